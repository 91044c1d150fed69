// setup_bench [MEGABYTES]: builds a mixed payload of about MEGABYTES (100 by
// default; text, random bytes and zeros), puts it into the launcher and
// measures, in the same run under the same system:
//   - a plain libbz2 expansion of the payload into a ready buffer;
//   - the launcher from its process start to the installer's start (the
//     sample installer reports its start on the shared performance counter);
//   - the launcher's peak memory (read while the installer runs).
// Each is the best of three runs. The payload is kept in the work folder and
// reused by later runs of the same size.
#include "qor/archive.h"
#include "qor/compressor.h"
#include "qor/fs.h"
#include "qor/system_library.h"

#include "qor/test_environment.h"

#include <bzlib.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

typedef BOOL(WINAPI* GetProcessMemoryInfoFn)(HANDLE, PROCESS_MEMORY_COUNTERS*, DWORD);

std::wstring WindowsPath(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* p = unixPath; *p; ++p) {
    path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  }
  return path;
}

double Seconds(LONGLONG counts) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counts) / static_cast<double>(frequency.QuadPart);
}

LONGLONG Now() {
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return c.QuadPart;
}

bool ReadAll(const std::wstring& path, std::string& bytes) {
  HANDLE h =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return false;
  }
  LARGE_INTEGER size;
  GetFileSizeEx(h, &size);
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD got = 0;
  std::size_t done = 0;
  while (done < bytes.size() &&
         ReadFile(h, &bytes[done],
                  static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 24)), &got,
                  nullptr) &&
         got > 0) {
    done += got;
  }
  CloseHandle(h);
  return done == bytes.size();
}

bool WriteAll(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  CloseHandle(h);
  return ok;
}

std::uint32_t state = 0x2545F491u;
std::uint32_t Next() {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

std::string Text(std::size_t bytes) {
  static const char* const words[] = {"setup",     "payload", "archive",  "the",    "of",
                                      "installer", "window",  "progress", "folder", "a",
                                      "memory",    "stream",  "bytes",    "entry",  "name",
                                      "Veltrano",  "extract", "and"};
  std::string out;
  out.reserve(bytes + 16);
  while (out.size() < bytes) {
    out += words[Next() % (sizeof words / sizeof words[0])];
    out += (Next() % 12 == 0) ? ".\r\n" : " ";
  }
  out.resize(bytes);
  return out;
}

std::string Random(std::size_t bytes) {
  std::string out(bytes, '\0');
  for (std::size_t i = 0; i + 4 <= bytes; i += 4) {
    std::uint32_t v = Next();
    std::memcpy(&out[i], &v, 4);
  }
  return out;
}

// Builds (or reuses) the payload; returns false on failure.
bool PreparePayload(const std::wstring& file, std::size_t megabytes, std::string& payload,
                    std::uint64_t& expanded) {
  const std::wstring sizeFile = file + L".size";
  std::string sizeText;
  if (ReadAll(file, payload) && ReadAll(sizeFile, sizeText)) {
    expanded = std::strtoull(sizeText.c_str(), nullptr, 10);
    return true;
  }
  std::string installer;
  if (!ReadAll(WindowsPath(VELTRANO_INSTALLER_EXE), installer)) {
    return false;
  }
  const std::size_t total = megabytes << 20;
  ArchiveWriter writer;
  writer.AddEntry(L"VTRInstaller.exe", installer);
  // Mixed like a product: half text-like, a quarter incompressible, a
  // quarter highly compressible, in several files.
  for (int i = 0; i < 4; ++i) {
    writer.AddEntry(L"text" + std::to_wstring(i) + L".txt", Text(total / 8));
  }
  for (int i = 0; i < 2; ++i) {
    writer.AddEntry(L"random" + std::to_wstring(i) + L".bin", Random(total / 8));
  }
  writer.AddEntry(L"zeros.bin", std::string(total / 4, '\0'));
  std::string archive = writer.ToString();
  expanded = archive.size();
  std::istringstream input(archive);
  archive.clear();
  std::ostringstream output;
  QorCompressLib::Bzip2Compressor(9, 30, 8192).Compress(input, output, nullptr, nullptr, 1);
  payload = output.str();
  return WriteAll(file, payload) && WriteAll(sizeFile, std::to_string(expanded));
}

// Expands into a newly allocated buffer of the right size, as a plain
// program that knows the size would: the allocation and the first touch of
// its pages count, as they do in the setup.
double PlainExpansion(const std::string& payload, std::uint64_t expanded) {
  LONGLONG start = Now();
  std::unique_ptr<char[]> out(new char[static_cast<std::size_t>(expanded) + 1]);
  bz_stream stream = {};
  BZ2_bzDecompressInit(&stream, 0, 0);
  stream.next_in = const_cast<char*>(payload.data());
  stream.avail_in = static_cast<unsigned>(payload.size());
  stream.next_out = out.get();
  stream.avail_out = static_cast<unsigned>(expanded + 1);
  int result;
  do {
    result = BZ2_bzDecompress(&stream);
  } while (result == BZ_OK && stream.avail_out > 0);
  BZ2_bzDecompressEnd(&stream);
  out.reset();
  double seconds = Seconds(Now() - start);
  if (result != BZ_STREAM_END || stream.total_out_lo32 != expanded) {
    std::fprintf(stderr, "plain expansion failed (%d)\n", result);
    std::exit(1);
  }
  return seconds;
}

struct SetupResult {
  double seconds = -1;
  SIZE_T peakWorkingSet = 0;
  SIZE_T peakPagefile = 0;
};

SetupResult RunSetup(const std::wstring& exe, const std::wstring& work, int round) {
  SetupResult result;
  const std::wstring temp = work + L"temp\\";
  QorFs::CreateDirectories(temp);
  const std::wstring report = work + L"report.txt";
  DeleteFileW(report.c_str());
  const std::wstring gateName =
      L"VeltranoBenchGate" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(round);
  HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, gateName.c_str());

  std::vector<wchar_t> block = QorTest::SetupEnvironment(
      temp, {L"VELTRANO_INSTALLER_REPORT=" + report, L"VELTRANO_INSTALLER_WAIT=" + gateName});

  std::wstring commandLine = L"\"" + exe + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  LONGLONG start = Now();
  if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                      CREATE_UNICODE_ENVIRONMENT, block.data(), nullptr, &startup, &process)) {
    std::fprintf(stderr, "cannot start the setup\n");
    std::exit(1);
  }
  std::string text;
  for (int i = 0; i < 60000 && !ReadAll(report, text); ++i) {
    if (WaitForSingleObject(process.hProcess, 5) == WAIT_OBJECT_0) {
      break;
    }
  }
  std::size_t at = text.find("start_qpc=");
  if (at != std::string::npos) {
    LONGLONG installerStart = std::strtoll(text.c_str() + at + 10, nullptr, 10);
    result.seconds = Seconds(installerStart - start);
  }
  auto getInfo =
      QorWin32::GetSystemFunction<GetProcessMemoryInfoFn>(L"psapi.dll", "GetProcessMemoryInfo");
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (getInfo && getInfo(process.hProcess, &counters, sizeof counters)) {
    result.peakWorkingSet = counters.PeakWorkingSetSize;
    result.peakPagefile = counters.PeakPagefileUsage;
  }
  SetEvent(gate);
  WaitForSingleObject(process.hProcess, 120000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseHandle(gate);
  return result;
}

} // namespace

int main(int argc, char** argv) {
  const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
  const std::wstring work = WindowsPath(VELTRANO_BENCH_WORK) + L"\\";
  QorFs::CreateDirectories(work);
  const std::wstring payloadFile = work + L"mixed-" + std::to_wstring(megabytes) + L"mb.zuk";
  std::string payload;
  std::uint64_t expanded = 0;
  std::printf("preparing a %u MB mixed payload...\n", static_cast<unsigned>(megabytes));
  std::fflush(stdout);
  if (!PreparePayload(payloadFile, megabytes, payload, expanded)) {
    std::fprintf(stderr, "cannot build the payload\n");
    return 1;
  }
  const std::wstring exe = work + L"bench-setup.exe";
  std::wstring stamp = L"\"" + WindowsPath(VELTRANO_VTRPACK_EXE) + L"\" stamp \"" +
                       WindowsPath(VELTRANO_SETUP_BASE_EXE) + L"\" \"" + payloadFile + L"\" \"" +
                       exe + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  DWORD code = 1;
  if (CreateProcessW(nullptr, &stamp[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  if (code != 0) {
    std::fprintf(stderr, "vtrpack stamp failed\n");
    return 1;
  }

  double plain = 1e9;
  SetupResult best;
  for (int round = 0; round < 3; ++round) {
    plain = std::min(plain, PlainExpansion(payload, expanded));
    SetupResult r = RunSetup(exe, work, round);
    if (r.seconds < 0) {
      std::fprintf(stderr, "the installer did not start\n");
      return 1;
    }
    if (best.seconds < 0 || r.seconds < best.seconds) {
      best.seconds = r.seconds;
    }
    best.peakWorkingSet = std::max(best.peakWorkingSet, r.peakWorkingSet);
    best.peakPagefile = std::max(best.peakPagefile, r.peakPagefile);
  }
  const double mb = 1024.0 * 1024.0;
  const double budget = payload.size() + 1.5 * expanded + 24 * mb;
  std::printf("payload: %.1f MB compressed, %.1f MB expanded\n", payload.size() / mb,
              expanded / mb);
  std::printf("plain libbz2 expansion:        %.3f s (best of 3)\n", plain);
  std::printf("setup start to installer start: %.3f s (best of 3)\n", best.seconds);
  std::printf("ratio: %.3f (limit 1.15)\n", best.seconds / plain);
  std::printf("setup peak working set: %.1f MB, peak private bytes: %.1f MB\n",
              best.peakWorkingSet / mb, best.peakPagefile / mb);
  std::printf("memory budget (compressed + 1.5 x expanded + 24 MB): %.1f MB\n", budget / mb);
  return 0;
}
