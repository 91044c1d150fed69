// setup_bench [MEGABYTES] [--base SETUP_BASE.exe] [--rounds N]
//   Builds a mixed payload of about MEGABYTES (100 by default; text, random
//   bytes and zeros), puts it into the launcher and measures, in alternating
//   runs under the same system:
//     - a plain single-thread libbz2 loop that decodes the payload and
//       writes the expanded bytes to a file;
//     - the launcher from its process start to the installer's start (the
//       sample installer reports its start on the shared performance
//       counter), once on all processors and once held to one processor
//       (its affinity: the launcher counts the processors it may use);
//     - the launcher's peak memory (read while the installer runs).
//   Each figure is the best of the rounds (3 by default). --base measures
//   another build of the launcher. The payload is kept in the work folder and
//   reused by later runs of the same size.
// setup_bench --zeros MEGABYTES
//   One run of a payload of MEGABYTES (up to the format's 4 GB) of zeros in
//   files of at most 1000 MB: the installer must start with every file
//   complete. Checks and reports time and peak memory.
#include "qor/payload/archive.h"
#include "qor/payload/compressor.h"
#include "qor/fs/fs.h"
#include "qor/fs/folder_entries.h"

#include "qor/test/environment.h"
#include "qor/test/text.h"

#include "bench_clock.h"
#include "bench_emulation.h"
#include "bench_process.h"

#include <bzlib.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using QorTest::WindowsPath;

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

// A plain single-thread decode-and-write loop: libbz2 into a 1 MB buffer,
// each buffer written to one file.
double PlainExpansion(const std::string& payload, std::uint64_t expanded,
                      const std::wstring& work) {
  const std::wstring path = work + L"plain-output.bin";
  const double start = QorBench::Now();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  const unsigned kBuffer = 1 << 20;
  std::unique_ptr<char[]> out(new char[kBuffer]);
  bz_stream stream = {};
  BZ2_bzDecompressInit(&stream, 0, 0);
  stream.next_in = const_cast<char*>(payload.data());
  stream.avail_in = static_cast<unsigned>(payload.size());
  int result;
  bool written = file != INVALID_HANDLE_VALUE;
  do {
    stream.next_out = out.get();
    stream.avail_out = kBuffer;
    result = BZ2_bzDecompress(&stream);
    DWORD done = 0;
    const DWORD produced = kBuffer - stream.avail_out;
    written = written && WriteFile(file, out.get(), produced, &done, nullptr) && done == produced;
  } while (result == BZ_OK);
  BZ2_bzDecompressEnd(&stream);
  CloseHandle(file);
  double seconds = QorBench::Now() - start;
  DeleteFileW(path.c_str());
  if (result != BZ_STREAM_END || !written || stream.total_out_lo32 != (expanded & 0xFFFFFFFFu)) {
    std::fprintf(stderr, "plain expansion failed (%d)\n", result);
    std::exit(1);
  }
  return seconds;
}

struct SetupResult {
  double seconds = -1;
  SIZE_T peakWorkingSet = 0;
  SIZE_T peakPagefile = 0;
  std::vector<std::pair<std::wstring, std::uint64_t>> files; // in the target folder
};

std::vector<std::pair<std::wstring, std::uint64_t>> ListFiles(const std::wstring& folder) {
  std::vector<std::pair<std::wstring, std::uint64_t>> files;
  for (const QorFs::FolderEntry& entry : QorFs::FolderEntries(folder)) {
    if (!entry.IsFolder()) {
      files.push_back({entry.name(), entry.size()});
    }
  }
  return files;
}

// Runs the setup; with oneProcessor, held to the first processor it may use.
SetupResult RunSetup(const std::wstring& exe, const std::wstring& work, int round,
                     bool oneProcessor) {
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
  const double start = QorBench::Now();
  const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (oneProcessor ? CREATE_SUSPENDED : 0);
  if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags, block.data(),
                      nullptr, &startup, &process)) {
    std::fprintf(stderr, "cannot start the setup\n");
    std::exit(1);
  }
  if (oneProcessor) {
    DWORD_PTR mask = 0, system = 0;
    GetProcessAffinityMask(process.hProcess, &mask, &system);
    if (!SetProcessAffinityMask(process.hProcess, mask & (~mask + 1))) {
      std::fprintf(stderr, "cannot set the setup's affinity\n");
      std::exit(1);
    }
    ResumeThread(process.hThread);
  }
  std::string text;
  for (int i = 0; i < 600000 && !ReadAll(report, text); ++i) {
    if (WaitForSingleObject(process.hProcess, 5) == WAIT_OBJECT_0) {
      break;
    }
  }
  std::size_t at = text.find("start_qpc=");
  if (at != std::string::npos) {
    LONGLONG installerStart = std::strtoll(text.c_str() + at + 10, nullptr, 10);
    result.seconds = QorBench::CounterSeconds(installerStart) - start;
    // Where the installer runs: the user's temporary folder, or for an
    // elevated run a folder of its own in the system's.
    const std::size_t cwd = text.find("cwd=");
    const std::size_t end = text.find('\n', cwd);
    if (cwd != std::string::npos && end != std::string::npos) {
      const std::string folder = text.substr(cwd + 4, end - cwd - 4);
      result.files = ListFiles(std::wstring(folder.begin(), folder.end()) + L"\\");
    }
  }
  SIZE_T pagefile = 0;
  SIZE_T workingSet = 0;
  if (QorBench::PeakMemory(process.hProcess, pagefile, workingSet)) {
    result.peakWorkingSet = workingSet;
    result.peakPagefile = pagefile;
  }
  SetEvent(gate);
  WaitForSingleObject(process.hProcess, 600000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseHandle(gate);
  return result;
}

bool Stamp(const std::wstring& base, const std::wstring& payloadFile, const std::wstring& exe) {
  return QorBench::RunAndWait(L"\"" + WindowsPath(VELTRANO_VTRPACK_EXE) + L"\" stamp \"" + base +
                              L"\" \"" + payloadFile + L"\" \"" + exe + L"\"") == 0;
}

// The builder checks a payload by expanding it in memory, which a 32-bit
// process cannot do for one of several gigabytes: put it into the launcher
// the way the builder does, without the check.
bool StampUnchecked(const std::wstring& base, const std::wstring& payloadFile,
                    const std::wstring& exe) {
  std::string payload;
  if (!ReadAll(payloadFile, payload) || !CopyFileW(base.c_str(), exe.c_str(), FALSE)) {
    return false;
  }
  SetFileAttributesW(exe.c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE update = BeginUpdateResourceW(exe.c_str(), FALSE);
  if (!update) {
    return false;
  }
  if (!UpdateResourceW(update, L"ZUK", MAKEINTRESOURCEW(137),
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), &payload[0],
                       static_cast<DWORD>(payload.size()))) {
    EndUpdateResourceW(update, TRUE);
    return false;
  }
  return EndUpdateResourceW(update, FALSE) != FALSE;
}

// Compresses the archive of the installer and files of zeros as it is
// produced: the archive itself never exists in memory. compressedSize gets
// the payload's size.
bool PrepareZerosPayload(const std::wstring& file, std::size_t megabytes,
                         std::vector<std::pair<std::wstring, std::uint64_t>>& expected,
                         std::size_t& compressedSize) {
  std::string installer;
  if (!ReadAll(WindowsPath(VELTRANO_INSTALLER_EXE), installer)) {
    return false;
  }
  expected.clear();
  expected.push_back({L"VTRInstaller.exe", installer.size()});
  for (std::size_t left = megabytes, i = 0; left > 0; ++i) {
    const std::size_t part = std::min<std::size_t>(left, 1000);
    expected.push_back({L"zeros" + std::to_wstring(i) + L".bin", std::uint64_t(part) << 20});
    left -= part;
  }
  std::vector<std::u16string> names;
  std::vector<std::uint64_t> sizes;
  for (const auto& entry : expected) {
    names.push_back(std::u16string(entry.first.begin(), entry.first.end()));
    sizes.push_back(entry.second);
  }
  std::string header;
  try {
    header = QorArchiveFormat::BuildHeader(names, sizes);
  } catch (QorPayload::Error* error) {
    delete error;
    std::fprintf(stderr, "more than the format's 4 GB\n");
    return false;
  }
  std::string compressed;
  bz_stream stream = {};
  BZ2_bzCompressInit(&stream, 9, 0, 30);
  std::unique_ptr<char[]> out(new char[1 << 20]);
  auto feed = [&](const char* data, std::size_t size, int action) {
    stream.next_in = const_cast<char*>(data);
    stream.avail_in = static_cast<unsigned>(size);
    for (;;) {
      stream.next_out = out.get();
      stream.avail_out = 1 << 20;
      const int result = BZ2_bzCompress(&stream, action);
      compressed.append(out.get(), (1 << 20) - stream.avail_out);
      if (action == BZ_RUN ? stream.avail_in == 0 : result == BZ_STREAM_END) {
        return;
      }
    }
  };
  feed(header.data(), header.size(), BZ_RUN);
  feed(installer.data(), installer.size(), BZ_RUN);
  const std::string zeros(1 << 20, '\0');
  for (std::size_t i = 1; i < expected.size(); ++i) {
    for (std::uint64_t done = 0; done < expected[i].second; done += zeros.size()) {
      feed(zeros.data(), zeros.size(), BZ_RUN);
    }
  }
  feed(nullptr, 0, BZ_FINISH);
  BZ2_bzCompressEnd(&stream);
  compressedSize = compressed.size();
  return WriteAll(file, compressed);
}

int RunZeros(std::size_t megabytes, const std::wstring& work, const std::wstring& base) {
  const std::wstring payloadFile = work + L"zeros-" + std::to_wstring(megabytes) + L"mb.zuk";
  std::vector<std::pair<std::wstring, std::uint64_t>> expected;
  std::printf("preparing %u MB of zeros...\n", static_cast<unsigned>(megabytes));
  std::fflush(stdout);
  std::size_t compressedSize = 0;
  if (!PrepareZerosPayload(payloadFile, megabytes, expected, compressedSize)) {
    std::fprintf(stderr, "cannot build the payload\n");
    return 1;
  }
  const std::wstring exe = work + L"bench-zeros-setup.exe";
  if (!StampUnchecked(base, payloadFile, exe)) {
    std::fprintf(stderr, "cannot put the payload into the launcher\n");
    return 1;
  }
  SetupResult r = RunSetup(exe, work, 0, false);
  if (r.seconds < 0) {
    std::fprintf(stderr, "the installer did not start\n");
    return 1;
  }
  std::sort(r.files.begin(), r.files.end());
  std::sort(expected.begin(), expected.end());
  const double mb = 1024.0 * 1024.0;
  std::printf("payload: %.1f KB compressed\n", compressedSize / 1024.0);
  std::printf("setup start to installer start: %.3f s\n", r.seconds);
  std::printf("setup peak working set: %.1f MB, peak private bytes: %.1f MB\n",
              r.peakWorkingSet / mb, r.peakPagefile / mb);
  if (r.files != expected) {
    std::fprintf(stderr, "the extracted files differ from the archive's entries\n");
    return 1;
  }
  std::printf("all %u files complete\n", static_cast<unsigned>(expected.size()));
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  std::size_t megabytes = 100;
  std::size_t zeros = 0;
  int rounds = 3;
  std::wstring base = WindowsPath(VELTRANO_SETUP_BASE_EXE);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--zeros" && i + 1 < argc) {
      zeros = std::strtoul(argv[++i], nullptr, 10);
    } else if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--base" && i + 1 < argc) {
      const std::string path = argv[++i];
      base = path[0] == '/' ? WindowsPath(path.c_str()) : std::wstring(path.begin(), path.end());
    } else {
      megabytes = std::strtoul(argv[i], nullptr, 10);
    }
  }
  const std::wstring work = WindowsPath(VELTRANO_BENCH_WORK) + L"\\";
  QorFs::CreateDirectories(work);
  if (zeros) {
    // The 3 GB run checks that every file arrives complete, which holds
    // under emulation too; only its times mean nothing there.
    if (QorBench::RunsUnderEmulation()) {
      QorBench::SayEmulated("setup_bench", "its times below are no result");
    }
    return RunZeros(zeros, work, base);
  }
  if (QorBench::RefuseEmulatedFigures("setup_bench")) {
    return 2;
  }
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
  if (!Stamp(base, payloadFile, exe)) {
    std::fprintf(stderr, "vtrpack stamp failed\n");
    return 1;
  }

  double plain = 1e9;
  SetupResult all, one;
  auto keepBest = [](SetupResult& best, const SetupResult& r) {
    if (r.seconds < 0) {
      std::fprintf(stderr, "the installer did not start\n");
      std::exit(1);
    }
    if (best.seconds < 0 || r.seconds < best.seconds) {
      best.seconds = r.seconds;
    }
    best.peakWorkingSet = std::max(best.peakWorkingSet, r.peakWorkingSet);
    best.peakPagefile = std::max(best.peakPagefile, r.peakPagefile);
  };
  for (int round = 0; round < rounds; ++round) {
    plain = std::min(plain, PlainExpansion(payload, expanded, work));
    keepBest(all, RunSetup(exe, work, 2 * round, false));
    keepBest(one, RunSetup(exe, work, 2 * round + 1, true));
  }
  const double mb = 1024.0 * 1024.0;
  DWORD_PTR mask = 0, system = 0;
  GetProcessAffinityMask(GetCurrentProcess(), &mask, &system);
  unsigned processors = 0;
  for (; mask; mask &= mask - 1) {
    ++processors;
  }
  const double budget = payload.size() + 64 * mb;
  std::printf("payload: %.1f MB compressed, %.1f MB expanded; %u processors\n", payload.size() / mb,
              expanded / mb, processors);
  std::printf("plain libbz2 decode-and-write loop:      %.3f s (best of %d)\n", plain, rounds);
  std::printf("setup to installer start, all threads:   %.3f s, ratio %.3f (target 0.6)\n",
              all.seconds, all.seconds / plain);
  std::printf("setup to installer start, one processor: %.3f s, ratio %.3f (target 1.0)\n",
              one.seconds, one.seconds / plain);
  std::printf("all threads against one processor: %.3f\n", all.seconds / one.seconds);
  std::printf("peak working set / private bytes, all threads:   %.1f / %.1f MB\n",
              all.peakWorkingSet / mb, all.peakPagefile / mb);
  std::printf("peak working set / private bytes, one processor: %.1f / %.1f MB\n",
              one.peakWorkingSet / mb, one.peakPagefile / mb);
  std::printf("memory budget (compressed + 64 MB): %.1f MB\n", budget / mb);
  return 0;
}
