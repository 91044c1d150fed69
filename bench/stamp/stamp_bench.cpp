// Stamping a payload into the launcher: peak memory and time for a small and
// a large payload, each stamped in a fresh process, runs alternating.
//
//   scripts/wine-run --prefix build/wineprefix build/bench/stamp/stamp_bench.exe [MB]
//
// The stamp copies in pieces, so the large payload's peak memory should be
// about the small one's (ratio near 1), not grow with the payload.
#include "qor/setup_image/pe_resources.h"

#include "bench_clock.h"
#include "bench_emulation.h"
#include "bench_process.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// This process's peak private bytes.
SIZE_T PeakPagefile() {
  SIZE_T pagefile = 0;
  SIZE_T workingSet = 0;
  return QorBench::PeakMemory(GetCurrentProcess(), pagefile, workingSet) ? pagefile : 0;
}

// The stamped program, written to a file of the bench's own.
class FileOutput : public QorPe::StampOutput {
public:
  explicit FileOutput(const std::wstring& path)
      : stream_(path.c_str(), std::ios::binary | std::ios::trunc) {}
  void Write(const unsigned char* data, std::size_t size) override {
    stream_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  void WriteAt(std::uint64_t offset, const unsigned char* data, std::size_t size) override {
    stream_.seekp(static_cast<std::streamoff>(offset));
    Write(data, size);
    stream_.seekp(0, std::ios::end);
  }
  bool ok() const { return static_cast<bool>(stream_); }

private:
  std::ofstream stream_;
};

// Child: stamp once and print "peak-bytes seconds".
int StampOnce(const std::wstring& base, const std::wstring& payload, const std::wstring& out) {
  const double start = QorBench::Now();
  try {
    FileOutput output(out);
    QorPe::StampPayload(base, payload, QorPe::Branding(), output);
    if (!output.ok()) {
      throw std::runtime_error("cannot write the stamped program");
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "stamp_bench: %s\n", error.what());
    return 1;
  }
  std::printf("%lu %.3f\n", static_cast<unsigned long>(PeakPagefile()), QorBench::Now() - start);
  return 0;
}

bool RunChild(const std::wstring& commandLine, unsigned long& peak, double& seconds) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring result = std::wstring(temp) + L"stamp_bench.txt";
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE file = CreateFileW(result.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                            0, nullptr);
  const DWORD code = QorBench::RunAndWait(commandLine, file);
  CloseHandle(file);
  std::ifstream in(result.c_str());
  const bool ok = code == 0 && (in >> peak >> seconds);
  in.close();
  DeleteFileW(result.c_str());
  return ok;
}

} // namespace

int main() {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (count == 5 && std::wstring(argv[1]) == L"stamp") {
    return StampOnce(argv[2], argv[3], argv[4]);
  }
  if (QorBench::RefuseEmulatedFigures("stamp_bench")) {
    return 2;
  }
  const unsigned largeMb = count > 1 ? static_cast<unsigned>(_wtoi(argv[1])) : 300;
  wchar_t self[MAX_PATH], temp[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  GetTempPathW(MAX_PATH, temp);
  // The build's launcher, on the drive where Wine shows the host's root.
  const std::wstring base = L"Z:" VELTRANO_SETUP_BASE_EXE;

  const unsigned sizes[2] = {1, largeMb};
  std::wstring payloads[2];
  std::vector<char> block(1 << 20);
  std::uint32_t state = 7;
  for (int i = 0; i < 2; ++i) {
    payloads[i] = std::wstring(temp) + L"stamp_bench_" + std::to_wstring(sizes[i]) + L".zuk";
    std::ofstream out(payloads[i].c_str(), std::ios_base::binary | std::ios_base::trunc);
    for (unsigned mb = 0; mb < sizes[i]; ++mb) {
      for (char& c : block) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
      }
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  const std::wstring output = std::wstring(temp) + L"stamp_bench_out.exe";
  unsigned long peak[2] = {~0ul, ~0ul};
  double best[2] = {1e9, 1e9};
  bool ok = true;
  for (int round = 0; round < 3 && ok; ++round) {
    for (int i = 0; i < 2 && ok; ++i) {
      unsigned long p = 0;
      double s = 0;
      ok = RunChild(L"\"" + std::wstring(self) + L"\" stamp \"" + base + L"\" \"" + payloads[i] +
                        L"\" \"" + output + L"\"",
                    p, s);
      peak[i] = std::min(peak[i], p);
      best[i] = std::min(best[i], s);
    }
  }
  for (const std::wstring& p : payloads) {
    DeleteFileW(p.c_str());
  }
  DeleteFileW(output.c_str());
  LocalFree(argv);
  if (!ok) {
    std::fprintf(stderr, "stamp_bench: a stamp failed\n");
    return 1;
  }
  for (int i = 0; i < 2; ++i) {
    std::printf("stamp %4u MB: peak memory %.1f MB, best of 3 %.2f s (%.0f MB/s)\n", sizes[i],
                peak[i] / 1048576.0, best[i], sizes[i] / best[i]);
  }
  std::printf("peak memory ratio %u MB / 1 MB: %.2f\n", largeMb,
              static_cast<double>(peak[1]) / peak[0]);
  return 0;
}
