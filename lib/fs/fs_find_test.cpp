#include "qor/fs/fs_find.h"

#include "qor/test/folders.h"
#include "qor/handle/unique_handle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

using QorFs::FileFilter;
using QorFs::FileFinder;

namespace {

class FindTest : public ::testing::Test {
protected:
  void Folder(const std::wstring& relative) {
    ASSERT_TRUE(CreateDirectoryW((root_ + relative).c_str(), nullptr)) << relative.c_str();
  }
  void File(const std::wstring& relative, const std::string& content = "x", bool readOnly = false) {
    scratch_.Write(relative, content, readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
  }
  bool Exists(const std::wstring& relative) const { return scratch_.Exists(relative); }
  std::string Read(const std::wstring& relative) const { return scratch_.Read(relative); }
  std::vector<std::wstring> Find(std::uint32_t flags, std::vector<FileFilter*> includes,
                                 std::vector<FileFilter*> excludes = {}) {
    FileFinder finder;
    finder.root = root_;
    finder.flags = flags | FileFinder::RecordResults | FileFinder::RelativeResults;
    for (auto* f : includes)
      finder.includes.emplace_back(f);
    for (auto* f : excludes)
      finder.excludes.emplace_back(f);
    finder.Traverse(L"");
    std::sort(finder.results.begin(), finder.results.end());
    return finder.results;
  }

  QorTest::ScratchFolder scratch_;
  const std::wstring root_ = scratch_.path();
};

using Names = std::vector<std::wstring>;

} // namespace

TEST_F(FindTest, RecursiveDeleteOfNestedTreeWithReadOnlyFiles) {
  Folder(L"a");
  Folder(L"a\\b");
  Folder(L"a\\b\\c");
  File(L"top.txt", "12345");
  File(L"a\\one.bin", "123", true);
  File(L"a\\b\\c\\deep.txt", "1234567890", true);
  SetFileAttributesW((root_ + L"a\\b").c_str(), FILE_ATTRIBUTE_READONLY);

  QorFs::DeleteStats stats;
  QorFs::DeleteTree(root_, &stats, false, nullptr, true);
  EXPECT_FALSE(Exists(L"a"));
  EXPECT_FALSE(Exists(L"top.txt"));
  EXPECT_TRUE(Exists(L""));     // the root itself stays
  EXPECT_EQ(6u, stats.entries); // 3 files and 3 folders
  EXPECT_EQ(18u, stats.bytes);
}

TEST_F(FindTest, FailureCallbackGetsThePathThatStays) {
  Folder(L"keep");
  File(L"keep\\busy.txt");
  File(L"gone.txt");
  Qor::UniqueFile busy(CreateFileW((root_ + L"keep\\busy.txt").c_str(), GENERIC_READ, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(busy.valid());
  static std::vector<std::wstring> failed;
  failed.clear();
  QorFs::DeleteStats stats;
  QorFs::DeleteTree(
      root_, &stats, false, nullptr, true,
      [](const wchar_t* path, std::uint32_t data) {
        EXPECT_EQ(77u, data);
        failed.push_back(path);
      },
      77);
  busy.reset();
  EXPECT_EQ((Names{root_ + L"keep\\busy.txt", root_ + L"keep"}), failed);
  EXPECT_FALSE(Exists(L"gone.txt"));
  EXPECT_EQ(1u, stats.entries); // the folder that stayed is not counted
}

TEST_F(FindTest, IncludeAndExcludeFilters) {
  Folder(L"Sub");
  Folder(L"skip");
  File(L"a.TXT");
  File(L"b.log");
  File(L"Sub\\c.txt");
  File(L"skip\\d.txt");
  const auto expression = FileFilter::MatchExpression | FileFilter::AcceptAll;
  // Full match, case-insensitive by default.
  EXPECT_EQ((Names{L"Sub\\c.txt", L"a.TXT"}),
            Find(FileFinder::Recurse, {new FileFilter(expression, L".*\\.txt")},
                 {new FileFilter(expression, L"skip")}));
  // A search-style expression matching only part of the name does not match.
  EXPECT_EQ(Names{}, Find(FileFinder::Recurse, {new FileFilter(expression, L"txt")}));
  // Case-sensitive.
  EXPECT_EQ((Names{L"Sub\\c.txt", L"skip\\d.txt"}),
            Find(FileFinder::Recurse,
                 {new FileFilter(expression | FileFilter::CaseSensitive, L".*\\.txt")}));
  // Relative path matching.
  EXPECT_EQ(Names{L"Sub\\c.txt"},
            Find(FileFinder::Recurse,
                 {new FileFilter(expression | FileFilter::MatchRelativePath, L"sub\\\\.*")}));
  // Name sets, folders only / files only.
  EXPECT_EQ(Names{L"Sub"},
            Find(FileFinder::Recurse,
                 {new FileFilter(FileFilter::MatchNameSet | FileFilter::AcceptFolders,
                                 std::set<std::wstring>{L"SUB", L"A.txt"})}));
  EXPECT_EQ(Names{L"a.TXT"},
            Find(0, {new FileFilter(FileFilter::MatchNameSet | FileFilter::AcceptFiles,
                                    std::set<std::wstring>{L"SUB", L"A.txt"})}));
  // Lists of direct entries; a missing folder gives nothing.
  Names names;
  QorFs::ListSubfolders(root_, names);
  std::sort(names.begin(), names.end());
  EXPECT_EQ((Names{L"Sub", L"skip"}), names);
  names.clear();
  QorFs::ListFiles(root_ + L"Sub", names);
  EXPECT_EQ(Names{L"c.txt"}, names);
  names.clear();
  QorFs::ListFiles(root_ + L"missing", names);
  EXPECT_TRUE(names.empty());
}

TEST_F(FindTest, ProtectedUserFoldersAreNeverEnteredWhenDeleting) {
  Folder(L"x");
  Folder(L"x\\mY DoCuments");
  File(L"x\\mY DoCuments\\precious.doc");
  Folder(L"My Music");
  File(L"My Music\\song.mp3");
  QorFs::DeleteTree(root_, nullptr, false, nullptr, true);
  EXPECT_TRUE(Exists(L"x\\mY DoCuments\\precious.doc"));
  EXPECT_TRUE(Exists(L"My Music\\song.mp3"));
  EXPECT_TRUE(QorFs::IsProtectedUserFolder(L"C:\\Users\\A\\MY PICTURES\\"));
  EXPECT_FALSE(QorFs::IsProtectedUserFolder(L"C:\\Users\\A\\Documents\\"));
}

TEST(EntryKinds, ReparsePointsAreLinksNeverFolders) {
  struct Case {
    DWORD attributes;
    QorFs::EntryKind kind;
  } cases[] = {
      {FILE_ATTRIBUTE_NORMAL, QorFs::EntryKind::File},
      {FILE_ATTRIBUTE_READONLY, QorFs::EntryKind::File},
      {FILE_ATTRIBUTE_DIRECTORY, QorFs::EntryKind::Folder},
      {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, QorFs::EntryKind::FolderLink},
      {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_HIDDEN,
       QorFs::EntryKind::FolderLink},
      {FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE, QorFs::EntryKind::FileLink},
  };
  for (const auto& c : cases) {
    WIN32_FIND_DATAW entry = {};
    entry.dwFileAttributes = c.attributes;
    EXPECT_EQ(c.kind, QorFs::ClassifyEntry(entry)) << c.attributes;
  }
}

TEST_F(FindTest, WipeOverwritesRenamesAndDeletes) {
  QorFs::ZeroThenRandomPattern pattern;
  std::string secret(200000, 'S');
  File(L"secret.bin", secret);
  // Without deletion the overwritten content stays visible: no old byte left.
  EXPECT_FALSE(
      QorFs::WipeFile(root_ + L"secret.bin", nullptr, false, QorFs::WipeOverwrite, &pattern));
  std::string after = Read(L"secret.bin");
  EXPECT_EQ(secret.size(), after.size());
  EXPECT_EQ(std::string::npos, after.find("SSSS"));

  File(L"empty.bin", "");
  EXPECT_TRUE(
      QorFs::WipeFile(root_ + L"empty.bin", nullptr, true, QorFs::WipeDefaultFlags, &pattern));
  EXPECT_TRUE(
      QorFs::WipeFile(root_ + L"secret.bin", nullptr, true, QorFs::WipeDefaultFlags, &pattern));
  Names left;
  QorFs::ListFiles(root_, left);
  EXPECT_TRUE(left.empty()); // renamed copies are gone too
  EXPECT_FALSE(
      QorFs::WipeFile(root_ + L"missing.bin", nullptr, true, QorFs::WipeDefaultFlags, &pattern));
}

TEST_F(FindTest, WipeNeverWritesThroughALink) {
  QorFs::ZeroThenRandomPattern pattern;
  File(L"target.txt", "keep me");
  WIN32_FIND_DATAW record = {};
  record.dwFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
  record.nFileSizeLow = 7;
  QorFs::WipeFile(root_ + L"target.txt", &record, false, QorFs::WipeOverwrite, &pattern);
  EXPECT_EQ("keep me", Read(L"target.txt"));
}

TEST_F(FindTest, WipeModeUsesTheDefaultPattern) {
  QorFs::ZeroThenRandomPattern pattern;
  QorFs::WipePattern* previous = QorFs::SetDefaultWipePattern(&pattern);
  File(L"a.txt", "aaaa");
  File(L"b.txt", "bbbbbb", true);
  QorFs::DeleteStats stats;
  QorFs::DeleteTree(root_, &stats, true, L"a\\.txt", false);
  EXPECT_FALSE(Exists(L"a.txt"));
  EXPECT_TRUE(Exists(L"b.txt"));
  EXPECT_EQ(1u, stats.entries);
  const wchar_t* names[] = {L"b.txt", L"missing.txt"};
  QorFs::DeleteStats fileStats;
  QorFs::WipeFiles(names, 2, root_.c_str(), &fileStats, &pattern);
  EXPECT_FALSE(Exists(L"b.txt"));
  EXPECT_EQ(1u, fileStats.entries);
  EXPECT_EQ(6u, fileStats.bytes);
  EXPECT_EQ(&pattern, QorFs::SetDefaultWipePattern(previous));
}

// Deleting a list of names under a folder prefix: what was deleted is
// counted (added to the caller's counters); a missing name is done but not
// counted; a file that stays (held open without delete sharing, read-only, a
// folder) is neither counted nor an error, and the names after it still go.
TEST_F(FindTest, DeleteFilesCountsOnlyWhatItDeleted) {
  File(L"one.txt", "12345");
  File(L"busy.txt", "123");
  File(L"locked.txt", "1234", true);
  Folder(L"folder");
  File(L"two.bin", "1234567");
  File(L"after.txt", "12");
  File(L"beyond.txt", "1");
  Qor::UniqueFile busy(CreateFileW((root_ + L"busy.txt").c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
  ASSERT_TRUE(busy.valid());

  const wchar_t* names[] = {L"one.txt", L"missing.txt", L"busy.txt",  L"locked.txt",
                            L"folder",  L"two.bin",     L"after.txt", L"beyond.txt"};
  QorFs::DeleteStats stats;
  stats.entries = 10;
  stats.reserved = 99;
  stats.bytes = 1000;
  QorFs::DeleteFiles(names, 7, root_.c_str(), &stats);
  busy.reset();

  EXPECT_EQ(13u, stats.entries); // one.txt, two.bin, after.txt
  EXPECT_EQ(1014u, stats.bytes); // 5 + 7 + 2
  EXPECT_EQ(99u, stats.reserved);
  const struct {
    const wchar_t* name;
    bool stays;
  } expected[] = {{L"one.txt", false},   {L"busy.txt", true},    {L"locked.txt", true},
                  {L"folder", true},     {L"two.bin", false},    {L"after.txt", false},
                  {L"beyond.txt", true}, {L"missing.txt", false}};
  for (const auto& e : expected) {
    EXPECT_EQ(e.stays, Exists(e.name)) << e.name;
  }
}

// Without counters the same deletions happen; without a prefix the names are
// paths; a prefix is put in front as it is, without a separator.
TEST_F(FindTest, DeleteFilesWithoutCountersOrPrefix) {
  File(L"a.txt");
  File(L"busy.txt");
  File(L"c.txt");
  File(L"log-1.txt");
  File(L"1.txt");
  Qor::UniqueFile busy(CreateFileW((root_ + L"busy.txt").c_str(), GENERIC_READ, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(busy.valid());
  const std::wstring a = root_ + L"a.txt", missing = root_ + L"missing.txt",
                     held = root_ + L"busy.txt", c = root_ + L"c.txt";
  const wchar_t* paths[] = {a.c_str(), missing.c_str(), held.c_str(), c.c_str()};
  QorFs::DeleteFiles(paths, 4, nullptr, nullptr);
  busy.reset();
  EXPECT_FALSE(Exists(L"a.txt"));
  EXPECT_TRUE(Exists(L"busy.txt"));
  EXPECT_FALSE(Exists(L"c.txt"));

  const wchar_t* numbered[] = {L"1.txt"};
  QorFs::DeleteFiles(numbered, 1, (root_ + L"log-").c_str(), nullptr);
  EXPECT_FALSE(Exists(L"log-1.txt"));
  EXPECT_TRUE(Exists(L"1.txt"));
}

namespace {

struct NameCase {
  const wchar_t* name;
  bool isFolder;
  bool anyText;   // ".*\.txt", case-insensitive, every type
  bool numberLog; // "[A-Z][a-z]+\d{2,3}\.log", case-sensitive, files only
};

const NameCase kNameCases[] = {
    {L"a.txt", false, true, false},          {L"README.TXT", false, true, false},
    {L"notes.txt.bak", false, false, false}, {L"dir.txt", true, true, false},
    {L"Build12.log", false, false, true},    {L"build12.log", false, false, false},
    {L"Build1234.log", false, false, false}, {L"Run007.log", true, false, false},
    {L"Trace99.log", false, false, true},    {L"", false, false, false},
};

WIN32_FIND_DATAW Entry(const NameCase& c) {
  WIN32_FIND_DATAW entry = {};
  entry.dwFileAttributes = c.isFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  wcscpy(entry.cFileName, c.name);
  return entry;
}

const auto kAnyText = FileFilter::MatchExpression | FileFilter::AcceptAll;
const auto kNumberLog =
    FileFilter::MatchExpression | FileFilter::CaseSensitive | FileFilter::AcceptFiles;

struct FilterWorker {
  HANDLE start = nullptr;
  const FileFilter* sharedText = nullptr;
  const FileFilter* sharedLog = nullptr;
  std::wstring root;
  int rounds = 0;
  int mismatches = 0;
  int walks = 0;

  static DWORD WINAPI Run(void* self) {
    static_cast<FilterWorker*>(self)->Filter();
    return 0;
  }

  void Filter() {
    WaitForSingleObject(start, INFINITE);
    for (int round = 0; round < rounds; ++round) {
      // Filters of its own, compiled while the other threads compile and match.
      FileFilter text(kAnyText, L".*\\.txt");
      FileFilter log(kNumberLog, L"[A-Z][a-z]+\\d{2,3}\\.log");
      for (const NameCase& c : kNameCases) {
        const WIN32_FIND_DATAW entry = Entry(c);
        mismatches += text.Matches(L"", entry) != c.anyText;
        mismatches += sharedText->Matches(L"", entry) != c.anyText;
        mismatches += log.Matches(L"", entry) != c.numberLog;
        mismatches += sharedLog->Matches(L"", entry) != c.numberLog;
      }
      if (round % 50 == 0) {
        FileFinder finder;
        finder.root = root;
        finder.flags = FileFinder::Recurse | FileFinder::CountEntries;
        finder.includes.emplace_back(new FileFilter(kAnyText, L".*\\.txt"));
        finder.excludes.emplace_back(
            new FileFilter(kAnyText | FileFilter::MatchRelativePath, L"skip\\\\.*"));
        finder.Traverse(L"");
        mismatches += finder.matchedCount != 2;
        ++walks;
      }
    }
  }
};

} // namespace

// Finders on several threads filter at once, many times over: each thread
// compiles filters of its own, matches a table of names with them and with
// filters that all threads share, and walks the same folder with filters.
TEST_F(FindTest, FiltersOnSeveralThreadsAtOnce) {
  Folder(L"sub");
  Folder(L"skip");
  File(L"a.txt");
  File(L"sub\\B.TXT");
  File(L"skip\\c.txt");
  File(L"sub\\d.log");
  const FileFilter sharedText(kAnyText, L".*\\.txt");
  const FileFilter sharedLog(kNumberLog, L"[A-Z][a-z]+\\d{2,3}\\.log");
  Qor::UniqueHandle start(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(start.valid());

  constexpr int kThreads = 4;
  FilterWorker workers[kThreads];
  Qor::UniqueHandle threads[kThreads];
  for (int i = 0; i < kThreads; ++i) {
    workers[i].start = start.get();
    workers[i].sharedText = &sharedText;
    workers[i].sharedLog = &sharedLog;
    workers[i].root = root_;
    workers[i].rounds = 1000;
    threads[i].reset(CreateThread(nullptr, 0, &FilterWorker::Run, &workers[i], 0, nullptr));
    ASSERT_TRUE(threads[i].valid());
  }
  SetEvent(start.get());
  for (auto& thread : threads) {
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), INFINITE));
  }
  for (const FilterWorker& worker : workers) {
    EXPECT_EQ(0, worker.mismatches);
    EXPECT_EQ(20, worker.walks);
  }
}
