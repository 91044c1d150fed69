// What the file filters' lock around Boost.Regex costs: matching through
// FileFilter (lock taken per match) against a bare regex_match of the same
// expression (no lock), in alternating rounds of one run; then two threads
// matching at once against one thread doing the same work alone.
//
//   scripts/wine-run --prefix build/wineprefix build/bench/fs/filter_bench.exe
#include "qor/fs/fs_find.h"

#include "bench_clock.h"
#include "bench_emulation.h"

#include <boost/regex.hpp>

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t kExpression[] = L"[a-z]+_\\d{2,4}\\.(txt|log|dat)";
constexpr int kMatches = 200000;

std::vector<WIN32_FIND_DATAW> Entries() {
  const wchar_t* names[] = {L"report_2024.txt",  L"Report_12.LOG", L"data_1.dat", L"notes.txt",
                            L"archive_0042.dat", L"x_99.bin",      L"setup.exe",  L"trace_777.log"};
  std::vector<WIN32_FIND_DATAW> entries;
  for (const wchar_t* name : names) {
    WIN32_FIND_DATAW entry = {};
    wcscpy(entry.cFileName, name);
    entries.push_back(entry);
  }
  return entries;
}

int MatchWithFilter(const QorFs::FileFilter& filter, const std::vector<WIN32_FIND_DATAW>& entries,
                    int count) {
  int hits = 0;
  for (int i = 0; i < count; ++i) {
    hits += filter.Matches(L"", entries[i % entries.size()]);
  }
  return hits;
}

int MatchBare(const boost::wregex& regex, const std::vector<WIN32_FIND_DATAW>& entries, int count) {
  int hits = 0;
  for (int i = 0; i < count; ++i) {
    // The filter builds the tested text the same way.
    const std::wstring name = entries[i % entries.size()].cFileName;
    hits += boost::regex_match(name, regex);
  }
  return hits;
}

struct Worker {
  const QorFs::FileFilter* filter;
  const std::vector<WIN32_FIND_DATAW>* entries;
  int count;
  int hits;
  static DWORD WINAPI Run(void* self) {
    Worker* w = static_cast<Worker*>(self);
    w->hits = MatchWithFilter(*w->filter, *w->entries, w->count);
    return 0;
  }
};

} // namespace

int main() {
  if (QorBench::RefuseEmulatedFigures("filter_bench")) {
    return 2;
  }
  const auto entries = Entries();
  const QorFs::FileFilter filter(QorFs::FileFilter::MatchExpression | QorFs::FileFilter::AcceptAll,
                                 kExpression);
  const boost::wregex bare(kExpression, boost::wregex::perl | boost::wregex::icase);

  std::printf("%d matches per round, ns per match\n", kMatches);
  std::printf("round  filter(lock)  bare regex  ratio\n");
  double filterBest = 1e9, bareBest = 1e9;
  for (int round = 0; round < 5; ++round) {
    double t0 = QorBench::Now();
    int a = MatchWithFilter(filter, entries, kMatches);
    double t1 = QorBench::Now();
    int b = MatchBare(bare, entries, kMatches);
    double t2 = QorBench::Now();
    if (a != b) {
      std::printf("different results: %d and %d\n", a, b);
      return 1;
    }
    const double f = (t1 - t0) * 1e9 / kMatches, r = (t2 - t1) * 1e9 / kMatches;
    filterBest = f < filterBest ? f : filterBest;
    bareBest = r < bareBest ? r : bareBest;
    std::printf("%5d  %12.1f  %10.1f  %5.2f\n", round + 1, f, r, f / r);
  }
  std::printf("best   %12.1f  %10.1f  %5.2f\n", filterBest, bareBest, filterBest / bareBest);

  // Two threads, each half the work, against one thread doing all of it.
  for (int round = 0; round < 3; ++round) {
    double t0 = QorBench::Now();
    MatchWithFilter(filter, entries, 2 * kMatches);
    double t1 = QorBench::Now();
    Worker workers[2] = {{&filter, &entries, kMatches, 0}, {&filter, &entries, kMatches, 0}};
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i) {
      threads[i] = CreateThread(nullptr, 0, &Worker::Run, &workers[i], 0, nullptr);
    }
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    double t2 = QorBench::Now();
    for (HANDLE h : threads) {
      CloseHandle(h);
    }
    std::printf("%d matches: one thread %.3f s, two threads %.3f s, ratio %.2f\n", 2 * kMatches,
                t1 - t0, t2 - t1, (t2 - t1) / (t1 - t0));
  }
  return 0;
}
