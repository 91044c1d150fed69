// Expanding a 100 MB payload into memory: speed against a plain libbz2 loop,
// and peak memory against compressed size + 1.5 x expanded size + 16 MB.
//
//   scripts/wine-run --prefix build/wineprefix build/bench/payload/payload_bench.exe
//
// The memory figure is taken in a child process (the same program started
// with "expand FILE") so that building the payload does not count.
//
//   payload_bench.exe blocks FILE [ROUNDS]
// times the block-parallel decoder on a payload file, in alternating runs:
// the sequential codec, then 1, 2, 4 and 8 decoding threads into a sink that
// drops the bytes, then the launcher's whole extraction (1 thread and all
// threads) into a temporary folder. It also prints the time one thread
// spends on the parts that cannot run in parallel (finding markers and
// handing on the bytes, and writing the files), from which the figures for
// machines with more processors are estimated.
#include "qor/payload/archive.h"
#include "qor/payload/compressor.h"
#include "qor/payload/extract_stream.h"
#include "qor/payload_core/processors.h"

#include "bzip2_parallel.h"
#include "qor/payload/memory_stream.h"
#include "qor/fs/folder_entries.h"

#include "bench_clock.h"
#include "bench_emulation.h"
#include "bench_process.h"

#include <bzlib.h>
#include <shellapi.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// 100 MB in 1 MB pieces of four kinds: text, random, zeros, structured records.
std::string MakeArchive() {
  const std::size_t piece = 1 << 20;
  std::uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state;
  };
  static const char* words[] = {"setup ",   "Veltrano ",  "payload ", "the ",         "of ",
                                "install ", "folder\r\n", "file ",    "version 1.0 ", "and "};
  ArchiveWriter writer;
  for (int file = 0; file < 4; ++file) {
    std::string data;
    data.reserve(25 * piece);
    for (int i = 0; i < 25; ++i) {
      const std::size_t start = data.size();
      switch ((file + i) % 4) {
      case 0:
        while (data.size() - start < piece) {
          data += words[(next() >> 16) % 10];
        }
        data.resize(start + piece);
        break;
      case 1:
        for (std::size_t k = 0; k < piece; ++k) {
          data.push_back(static_cast<char>(next() >> 24));
        }
        break;
      case 2:
        data.append(piece, '\0');
        break;
      default:
        for (std::uint32_t k = 0; data.size() - start < piece; ++k) {
          const std::uint32_t record[4] = {k, k * 3 + 7, 0x10000u + (k & 0xFF), next() >> 28};
          data.append(reinterpret_cast<const char*>(record), sizeof(record));
        }
        data.resize(start + piece);
        break;
      }
    }
    writer.AddEntry(L"part" + std::to_wstring(file) + L".bin", std::move(data));
  }
  return writer.ToString();
}

double TimeCodec(const std::string& packed, std::size_t& expandedSize) {
  const double start = QorBench::Now();
  QorCompressLib::MemoryInputStream in(packed.data(), packed.size());
  QorCompressLib::MemoryOutputStream out;
  QorCompressLib::Bzip2Compressor codec(9, 30, 8192);
  codec.Decompress(in, out, nullptr, nullptr, 0);
  const double seconds = QorBench::Now() - start;
  expandedSize = out.size();
  return seconds;
}

double TimePlain(const std::string& packed, std::vector<char>& target, std::size_t& produced) {
  const double start = QorBench::Now();
  char in[8192], out[8192];
  bz_stream stream;
  std::memset(&stream, 0, sizeof(stream));
  BZ2_bzDecompressInit(&stream, 0, 0);
  std::size_t consumed = 0;
  produced = 0;
  int result = BZ_OK;
  while (result == BZ_OK) {
    if (stream.avail_in == 0) {
      const std::size_t n = std::min<std::size_t>(sizeof(in), packed.size() - consumed);
      std::memcpy(in, packed.data() + consumed, n);
      consumed += n;
      stream.next_in = in;
      stream.avail_in = static_cast<unsigned>(n);
    }
    stream.next_out = out;
    stream.avail_out = sizeof(out);
    result = BZ2_bzDecompress(&stream);
    const std::size_t n = sizeof(out) - stream.avail_out;
    std::memcpy(target.data() + produced, out, n);
    produced += n;
  }
  BZ2_bzDecompressEnd(&stream);
  return QorBench::Now() - start;
}

// Processor time of this process so far, in seconds.
double ProcessorSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

class DroppingSink : public QorPayload::ByteSink {
public:
  void Write(const char*, std::size_t size) override { bytes += size; }
  std::uint64_t bytes = 0;
};

void RemoveFiles(const std::wstring& folder) {
  for (const QorFs::FolderEntry& entry : QorFs::FolderEntries(folder)) {
    DeleteFileW((folder + entry.name()).c_str());
  }
}

int Blocks(const wchar_t* path, int rounds) {
  std::string packed;
  {
    std::ifstream file(path, std::ios_base::binary);
    std::ostringstream content;
    content << file.rdbuf();
    packed = content.str();
  }
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"payload_bench_blocks\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  const unsigned counts[] = {1, 2, 4, 8};
  double sequential = 1e9, decode[4] = {1e9, 1e9, 1e9, 1e9}, extractOne = 1e9, extractAll = 1e9;
  double decodeCpu[4] = {0, 0, 0, 0};
  double writeOnly = 1e9;
  std::uint64_t expanded = 0;
  std::vector<char> chunk(1 << 20, 'w');
  for (int round = 0; round < rounds; ++round) {
    double start = QorBench::Now();
    {
      QorCompressLib::MemoryInputStream in(packed.data(), packed.size());
      QorCompressLib::MemoryOutputStream out;
      QorCompressLib::Bzip2Compressor(9, 30, 8192).Decompress(in, out, nullptr, nullptr, 0);
      expanded = out.size();
    }
    sequential = std::min(sequential, QorBench::Now() - start);
    for (int i = 0; i < 4; ++i) {
      DroppingSink sink;
      start = QorBench::Now();
      const double cpu = ProcessorSeconds();
      QorCompressLib::DecompressBlocks(packed.data(), packed.size(), sink, nullptr, nullptr, 0,
                                       counts[i]);
      if (QorBench::Now() - start < decode[i]) {
        decode[i] = QorBench::Now() - start;
        decodeCpu[i] = ProcessorSeconds() - cpu;
      }
    }
    for (unsigned threads : {1u, 0u}) {
      start = QorBench::Now();
      QorPayload::ExtractStream(packed.data(), packed.size(), folder, nullptr, nullptr, 0, threads);
      (threads == 1 ? extractOne : extractAll) =
          std::min(threads == 1 ? extractOne : extractAll, QorBench::Now() - start);
      RemoveFiles(folder);
    }
    // Writing the same amount alone, in 1 MB pieces.
    start = QorBench::Now();
    {
      HANDLE file = CreateFileW((folder + L"w.bin").c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, 0, nullptr);
      DWORD done = 0;
      for (std::uint64_t left = expanded; left > 0;) {
        const DWORD piece = static_cast<DWORD>(std::min<std::uint64_t>(left, chunk.size()));
        WriteFile(file, chunk.data(), piece, &done, nullptr);
        left -= piece;
      }
      CloseHandle(file);
    }
    writeOnly = std::min(writeOnly, QorBench::Now() - start);
    RemoveFiles(folder);
  }
  RemoveDirectoryW(folder.c_str());
  const double mb = 1024.0 * 1024.0;
  std::printf("payload %.1f MB compressed, %.1f MB expanded, %u processors here (best of %d)\n",
              packed.size() / mb, expanded / mb, QorPackThreads::DefaultDecodeThreads(), rounds);
  std::printf("sequential codec into memory: %.3f s\n", sequential);
  for (int i = 0; i < 4; ++i) {
    std::printf("block decoder, %u thread(s), bytes dropped: %.3f s (%.2f x sequential), "
                "processor time %.3f s\n",
                counts[i], decode[i], decode[i] / sequential, decodeCpu[i]);
  }
  std::printf("extraction to files, 1 thread: %.3f s; all threads: %.3f s (%.2f x)\n", extractOne,
              extractAll, extractAll / extractOne);
  std::printf("writing %.1f MB alone: %.3f s\n", expanded / mb, writeOnly);
  // On n processors the decoding divides by n while the writing (on the
  // calling thread) overlaps it: the longer of the two bounds the time.
  for (unsigned n : {4u, 8u}) {
    const double estimate = std::max(decode[0] / n, writeOnly);
    std::printf("estimate for %u processors: %.3f s (%.2f x one thread's extraction)\n", n,
                estimate, estimate / extractOne);
  }
  return 0;
}

// Child: expand the file as the launcher does and report the peak.
int Expand(const wchar_t* path) {
  std::string packed;
  {
    std::ifstream file(path, std::ios_base::binary);
    std::ostringstream content;
    content << file.rdbuf();
    packed = content.str();
  }
  QorCompressLib::MemoryOutputStream out;
  {
    QorCompressLib::MemoryInputStream in(packed.data(), packed.size());
    QorCompressLib::Bzip2Compressor codec(9, 30, 8192);
    codec.Decompress(in, out, nullptr, nullptr, 0);
  }
  ArchiveReader reader;
  reader.LoadFromMemory(out.data(), out.size());
  SIZE_T pagefile = 0, workingSet = 0;
  if (!QorBench::PeakMemory(GetCurrentProcess(), pagefile, workingSet)) {
    std::printf("no process memory information\n");
    return 2;
  }
  const double mb = 1024.0 * 1024.0;
  const double bound = packed.size() + 1.5 * out.size() + 16 * mb;
  std::printf("compressed %.1f MB, expanded %.1f MB, %u entries\n", packed.size() / mb,
              out.size() / mb, reader.GetEntryCount());
  std::printf("peak pagefile usage %.1f MB, peak working set %.1f MB, bound %.1f MB: %s\n",
              pagefile / mb, workingSet / mb, bound / mb,
              std::max(pagefile, workingSet) <= bound ? "OK" : "OVER");
  std::fflush(stdout);
  return std::max(pagefile, workingSet) <= bound ? 0 : 1;
}

} // namespace

int main() {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (count == 3 && std::wstring(argv[1]) == L"expand") {
    return Expand(argv[2]);
  }
  if (QorBench::RefuseEmulatedFigures("payload_bench")) {
    return 2;
  }
  if (count >= 3 && std::wstring(argv[1]) == L"blocks") {
    return Blocks(argv[2], count >= 4 ? std::max(1, _wtoi(argv[3])) : 3);
  }

  std::string packed;
  {
    const std::string archive = MakeArchive();
    std::printf("archive %.1f MB, compressing...\n", archive.size() / 1048576.0);
    std::fflush(stdout);
    std::istringstream in(archive);
    std::ostringstream out;
    QorCompressLib::Bzip2Compressor codec(9, 30, 8192);
    codec.Compress(in, out, nullptr, nullptr, 0);
    packed = out.str();
  }

  std::size_t expanded = 0, produced = 0;
  TimeCodec(packed, expanded); // warm-up
  std::vector<char> target(expanded);
  double codecBest = 1e9, plainBest = 1e9;
  for (int round = 0; round < 3; ++round) {
    plainBest = std::min(plainBest, TimePlain(packed, target, produced));
    codecBest = std::min(codecBest, TimeCodec(packed, expanded));
  }
  const double ratio = codecBest / plainBest;
  std::printf("expand %.1f MB: codec into memory %.3f s, plain libbz2 loop %.3f s, ratio %.3f "
              "(limit 1.05): %s\n",
              expanded / 1048576.0, codecBest, plainBest, ratio, ratio <= 1.05 ? "OK" : "OVER");
  std::fflush(stdout);

  // Peak memory, measured in a fresh process.
  wchar_t temp[MAX_PATH], self[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring file = std::wstring(temp) + L"payload_bench.bz2";
  {
    std::ofstream out(file.c_str(), std::ios_base::binary | std::ios_base::trunc);
    out.write(packed.data(), static_cast<std::streamsize>(packed.size()));
  }
  const DWORD code =
      QorBench::RunAndWait(L"\"" + std::wstring(self) + L"\" expand \"" + file + L"\"");
  DeleteFileW(file.c_str());
  LocalFree(argv);
  return ratio <= 1.05 && code == 0 ? 0 : 1;
}
