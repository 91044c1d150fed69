#include "qor/fs/private_folder.h"
#include "qor/fs/error_codes.h"

#include "qor/fs/fs.h"
#include "qor/error/error.h"
#include "qor/error/win32_error.h"

#include "qor/test/errors.h"
#include "qor/test/folders.h"
#include "qor/test/host_links.h"
#include "qor/test/security.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>

using QorFs::PathKind;

namespace {

std::string Narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}

class FreshFolderTest : public ::testing::Test {
protected:
  void Write(const std::wstring& path, bool readOnly = false) {
    QorTest::WriteFileBytes(path, "planted",
                            readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
  }
  static bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  static bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  static bool IsEmptyFolder(const std::wstring& folder) {
    return IsFolder(folder) && QorTest::ListEntries(folder).empty();
  }
  static int CountEntries(const std::wstring& folder) {
    return IsFolder(folder) ? static_cast<int>(QorTest::ListEntries(folder).size()) : -1;
  }
  void PlantFolder() {
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    Write(folder_ + L"VTRInstaller.exe");
    Write(folder_ + L"version.dll", true);
    CreateDirectoryW((folder_ + L"sub").c_str(), nullptr);
    Write(folder_ + L"sub\\deep.dll", true);
    SetFileAttributesW((folder_ + L"sub").c_str(), FILE_ATTRIBUTE_READONLY);
  }
  void PlantFile() { Write(parent_ + L"\\Work.tmp", true); }

  // The parent is the test's scratch folder, named here without the final
  // backslash.
  QorTest::ScratchFolder scratch_;
  const std::wstring parent_ = scratch_.path().substr(0, scratch_.path().size() - 1);
  const std::wstring folder_ = parent_ + L"\\Work.tmp\\";
};

} // namespace

TEST(PathKinds, ReparsePointsAreLinksWhateverElseTheyAre) {
  struct Case {
    DWORD attributes;
    PathKind kind;
  } cases[] = {
      {INVALID_FILE_ATTRIBUTES, PathKind::Missing},
      {FILE_ATTRIBUTE_NORMAL, PathKind::File},
      {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, PathKind::File},
      {FILE_ATTRIBUTE_DIRECTORY, PathKind::Folder},
      {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, PathKind::Link},
      {FILE_ATTRIBUTE_REPARSE_POINT, PathKind::Link},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.kind, QorFs::ClassifyAttributes(c.attributes)) << c.attributes;
  }
}

// The folder as the tests expect it after MakeWorkingFolder: made at the
// asked name, empty, and the only thing left in the parent.
TEST_F(FreshFolderTest, LeftoversAreMovedAsideAndRemoved) {
  enum Leftover { kNothing, kFolder, kFile };
  struct Case {
    const char* name;
    Leftover leftover;
  } cases[] = {
      {"a folder with planted files, read-only ones and a read-only subfolder", kFolder},
      {"a read-only file of the folder's name", kFile},
      {"nothing", kNothing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.leftover == kFolder) {
      PlantFolder();
    } else if (c.leftover == kFile) {
      PlantFile();
    }
    QorFs::PinnedFolder pinned = QorFs::MakeWorkingFolder(folder_);
    ASSERT_TRUE(pinned.valid());
    EXPECT_EQ(folder_, pinned.path());
    EXPECT_TRUE(pinned.identity().valid);
    EXPECT_TRUE(IsEmptyFolder(folder_));
    EXPECT_EQ(1, CountEntries(parent_ + L"\\")) << "nothing left beside it";
    pinned.CleanUp();
    EXPECT_FALSE(Exists(folder_));
  }
}

// The parent may be a temporary folder that other accounts can write to:
// the folder does not take its access list from there. Every way of making
// it gets the list: at the free name, after a leftover, beside a leftover
// in use.
TEST_F(FreshFolderTest, WorkingFoldersHaveAProtectedAccessListOfTheirOwn) {
  const std::wstring user = QorTest::CurrentUserSid();
  ASSERT_FALSE(user.empty());
  // What the parent passes on shows more than that.
  ASSERT_TRUE(CreateDirectoryW((parent_ + L"\\plain").c_str(), nullptr));
  const std::wstring plain = QorTest::DescriptorText(parent_ + L"\\plain");
  EXPECT_FALSE(QorTest::ShowsUserOnly(plain, user)) << Narrow(plain);
  ASSERT_TRUE(RemoveDirectoryW((parent_ + L"\\plain").c_str()));

  struct Case {
    const char* name;
    bool leftover, held;
  } cases[] = {{"at the free name", false, false},
               {"after a leftover", true, false},
               {"beside a leftover in use", true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.leftover) {
      PlantFolder();
    }
    Qor::UniqueFile held;
    if (c.held) {
      held.reset(CreateFileW(folder_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      ASSERT_TRUE(held.valid());
    }
    QorFs::PinnedFolder pinned = QorFs::MakeWorkingFolder(folder_);
    ASSERT_TRUE(pinned.valid());
    EXPECT_EQ(c.held, pinned.path() != folder_);
    const std::wstring shown = QorTest::DescriptorText(pinned.path());
    EXPECT_TRUE(QorTest::ShowsUserOnly(shown, user)) << Narrow(shown);
    // Wine's volumes keep access lists, as NTFS does (FAT keeps none).
    EXPECT_TRUE(pinned.HasOwnAccessList());
    pinned.CleanUp();
    held.reset();
    QorTest::RemoveTree(parent_ + L"\\");
    ASSERT_TRUE(CreateDirectoryW(parent_.c_str(), nullptr));
  }
}

TEST_F(FreshFolderTest, PinnedUntilCleanedUp) {
  QorFs::PinnedFolder pinned = QorFs::MakeWorkingFolder(folder_);
  ASSERT_TRUE(pinned.valid());
  Write(folder_ + L"a.txt"); // our own writes inside still work
  CreateDirectoryW((folder_ + L"sub").c_str(), nullptr);
  const std::wstring path = folder_.substr(0, folder_.size() - 1);
  EXPECT_FALSE(MoveFileW(path.c_str(), (parent_ + L"\\moved").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  EXPECT_FALSE(RemoveDirectoryW(path.c_str()));
  EXPECT_TRUE(pinned.StillInPlace());

  // Files go; a subfolder stays, and with it the folder.
  pinned.CleanUp();
  EXPECT_FALSE(pinned.valid());
  EXPECT_FALSE(Exists(folder_ + L"a.txt"));
  EXPECT_TRUE(Exists(folder_ + L"sub"));
  // Released: now it can be moved.
  EXPECT_TRUE(MoveFileW(path.c_str(), (parent_ + L"\\moved").c_str()));
  pinned.CleanUp(); // nothing left to do
}

TEST_F(FreshFolderTest, LeftoverInUseGetsAFolderBesideIt) {
  struct Case {
    const char* name;
    bool folderHeld; // else a file inside it
  } cases[] = {
      // The leftover can be neither emptied nor moved.
      {"the leftover folder itself", true},
      // Emptied it cannot be; Windows does not move it either, Wine does.
      {"a file inside the leftover", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    Write(folder_ + L"held.txt");
    // Another program holds it open without delete sharing.
    const std::wstring heldPath = c.folderHeld ? parent_ + L"\\Work.tmp" : folder_ + L"held.txt";
    Qor::UniqueFile held(CreateFileW(heldPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(held.valid());
    QorFs::PinnedFolder pinned = QorFs::MakeWorkingFolder(folder_);
    ASSERT_TRUE(pinned.valid());
    const std::wstring path = pinned.path();
    EXPECT_TRUE(IsEmptyFolder(path));
    // Beside it, under a name nobody could have taken first.
    const std::wstring beside = parent_ + L"\\Work.tmp-";
    if (c.folderHeld || path != folder_) {
      EXPECT_EQ(beside, path.substr(0, beside.size()));
      EXPECT_EQ(beside.size() + 17, path.size()) << "16 secret characters";
    }
    if (!c.folderHeld) {
      char bytes[16] = {};
      DWORD got = 0;
      EXPECT_TRUE(ReadFile(held.get(), bytes, sizeof bytes, &got, nullptr));
      EXPECT_EQ("planted", std::string(bytes, got));
    }
    held.reset();
    pinned.CleanUp();
    EXPECT_FALSE(Exists(path));
    QorTest::RemoveTree(parent_ + L"\\");
    ASSERT_TRUE(CreateDirectoryW(parent_.c_str(), nullptr));
  }
}

TEST_F(FreshFolderTest, NoFolderAtAllRaises422WithTheRealCause) {
  const std::wstring folder = parent_ + L"\\missing\\Work.tmp\\";
  std::unique_ptr<QorError::Exception> error(
      QorTest::Catch([&] { QorFs::MakeWorkingFolder(folder); }));
  ASSERT_TRUE(error);
  EXPECT_EQ(QorFs::kCreateFolderError, error->GetCode());
  const std::wstring text = error->GetMessageText();
  EXPECT_NE(std::wstring::npos, text.find(L"Unable to create directory " + folder)) << text;
  EXPECT_EQ(std::wstring::npos, text.find(L"No more files")) << text;
  auto* win32 = dynamic_cast<QorWin32::Win32Error*>(error.get());
  ASSERT_TRUE(win32);
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), win32->GetSystemCode());
}

TEST_F(FreshFolderTest, RemovalNeverChangesAFileWithAnotherName) {
  // A hard link inside to a read-only file elsewhere: deleting the link's
  // name would need the shared read-only mark cleared.
  const std::wstring outside = parent_ + L"\\outside.txt";
  Write(outside, true);
  ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
  Write(folder_ + L"plain.txt", true);
  if (!CreateHardLinkW((folder_ + L"linked.txt").c_str(), outside.c_str(), nullptr)) {
    GTEST_SKIP() << "no hard links here";
  }
  EXPECT_FALSE(QorFs::RemoveTreeWithoutLinks(folder_));
  EXPECT_FALSE(Exists(folder_ + L"plain.txt"));
  EXPECT_TRUE(GetFileAttributesW(outside.c_str()) & FILE_ATTRIBUTE_READONLY);
  std::ifstream in(outside.c_str());
  std::string content;
  in >> content;
  EXPECT_EQ("planted", content);
}

namespace {

// Runs work with 24 KB of stack left, a small fraction of a program's usual
// stack: a walk that recurses once a level overflows it long before the
// removal's depth limit. (The system may give a thread more stack than it
// asks for: what is left is measured.)
template <class Work> void OnSmallStack(Work work) {
  struct Start {
    static DWORD WINAPI Run(void* parameter) {
      MEMORY_BASIC_INFORMATION stack = {};
      if (!VirtualQuery(&stack, &stack, sizeof stack)) {
        return 1;
      }
      const std::size_t left =
          reinterpret_cast<const char*>(&stack) - static_cast<const char*>(stack.AllocationBase);
      const std::size_t keep = 24 * 1024 + 16 * 1024; // and the guard pages at the end
      if (left > keep) {
        volatile char* used = static_cast<volatile char*>(__builtin_alloca(left - keep));
        used[0] = 0;
      }
      (*static_cast<Work*>(parameter))();
      return 0;
    }
  };
  Qor::UniqueHandle thread(CreateThread(nullptr, 64 * 1024, Start::Run, &work,
                                        STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  ASSERT_TRUE(thread.valid());
  WaitForSingleObject(thread.get(), INFINITE);
}

// A chain of folders "d", levels deep, inside folder (a path in the long
// form, "\\?\" first), with a file at its bottom; the bottom's path.
std::wstring MakeChain(const std::wstring& folder, std::size_t levels) {
  std::wstring path = folder;
  for (std::size_t i = 0; i < levels; ++i) {
    path += L"\\d";
    if (!CreateDirectoryW(path.c_str(), nullptr)) {
      ADD_FAILURE() << "level " << i + 1;
      return path;
    }
  }
  QorTest::WriteFileBytes(path + L"\\bottom.txt", "kept");
  return path;
}

} // namespace

// Folders nested as deep as the removal goes are removed on a small stack;
// one level more and the deepest stays, with the folders above it, while
// everything beside them goes.
TEST_F(FreshFolderTest, DeepTreesAreRemovedOnASmallStackUpToTheDepthLimit) {
  const std::wstring root = parent_ + L"\\deep";
  const std::wstring longRoot = L"\\\\?\\" + root;
  for (const bool pastTheLimit : {false, true}) {
    SCOPED_TRACE(pastTheLimit ? "one level past the limit" : "at the limit");
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    const std::wstring bottom =
        MakeChain(longRoot, QorFs::kMaxRemovalDepth + (pastTheLimit ? 1 : 0));
    Write(root + L"\\top.txt", true);
    ASSERT_TRUE(CreateDirectoryW((root + L"\\side").c_str(), nullptr));
    Write(root + L"\\side\\x.txt");
    bool removed = false;
    DWORD error = ERROR_SUCCESS;
    OnSmallStack([&] {
      removed = QorFs::RemoveTreeWithoutLinks(root);
      error = GetLastError();
    });
    EXPECT_EQ(!pastTheLimit, removed);
    if (!pastTheLimit) {
      EXPECT_FALSE(Exists(root));
      continue;
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), error);
    EXPECT_TRUE(Exists(bottom + L"\\bottom.txt"));
    EXPECT_EQ((std::vector<std::wstring>{L"d"}), QorTest::ListEntries(root + L"\\"));
    // What stays is within reach from one level down.
    EXPECT_TRUE(QorFs::RemoveTreeWithoutLinks(root + L"\\d"));
    EXPECT_TRUE(QorFs::RemoveTreeWithoutLinks(root));
    EXPECT_FALSE(Exists(root));
  }
}

TEST_F(FreshFolderTest, AdminOnlyFoldersAreNewEachTimeAndShowTheirAccessList) {
  QorFs::AdminOnlySecurity security;
  Qor::UniqueLocal sddl;
  const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
      security.Get(), SDDL_REVISION_1, parts, reinterpret_cast<wchar_t**>(sddl.put()), nullptr));
  EXPECT_EQ(L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)",
            std::wstring(static_cast<const wchar_t*>(sddl.get())));

  QorFs::PinnedFolder first = QorFs::MakeAdminOnlyFolder(parent_, L"Work-");
  QorFs::PinnedFolder second = QorFs::MakeAdminOnlyFolder(parent_ + L"\\", L"Work-");
  ASSERT_TRUE(first.valid() && second.valid());
  for (const QorFs::PinnedFolder* pinned : {&first, &second}) {
    const std::wstring& path = pinned->path();
    EXPECT_EQ(parent_ + L"\\Work-", path.substr(0, parent_.size() + 6));
    EXPECT_EQ(parent_.size() + 6 + 16 + 1, path.size()) << "16 secret characters";
    EXPECT_TRUE(IsEmptyFolder(path));
    const std::wstring shown = QorTest::DescriptorText(path);
    EXPECT_TRUE(QorTest::ShowsAdminOnly(shown)) << Narrow(shown);
  }
  EXPECT_NE(first.path(), second.path());
  // A folder made with the default security shows more than that.
  ASSERT_TRUE(CreateDirectoryW((parent_ + L"\\plain").c_str(), nullptr));
  EXPECT_FALSE(QorTest::ShowsAdminOnly(QorTest::DescriptorText(parent_ + L"\\plain")));

  const std::wstring gone = first.path();
  first.CleanUp();
  EXPECT_FALSE(Exists(gone));
  second.CleanUp();

  std::unique_ptr<QorError::Exception> error(
      QorTest::Catch([&] { QorFs::MakeAdminOnlyFolder(parent_ + L"\\missing", L"Work-"); }));
  ASSERT_TRUE(error);
  EXPECT_EQ(QorFs::kCreateFolderError, error->GetCode());
}

namespace {

// Host symbolic links, made on request by tests/support/host_links.sh, which
// ctest runs this suite through (fs_host_links). The tests work in the
// helper's own folder, which the helper removes afterwards: links must be
// made where the host side can reach them.
class HostLinks : public ::testing::Test {
protected:
  void SetUp() override {
    if (!links_.available()) {
      GTEST_SKIP() << "needs the link helper: run through tests/support/host_links.sh";
    }
    base_ = links_.folder();
  }
  static void Write(const std::wstring& path, bool readOnly = false) {
    QorTest::WriteFileBytes(path, "kept",
                            readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
  }
  static bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  bool MakeLink(const std::wstring& link, const std::wstring& target) {
    return links_.MakeLink(link, target);
  }
  void ExpectOutsideIntact() {
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"inner\\c.txt"}) {
      std::ifstream in((base_ + L"outside\\" + name).c_str());
      std::string content;
      in >> content;
      EXPECT_EQ("kept", content) << Narrow(name);
    }
    EXPECT_TRUE(GetFileAttributesW((base_ + L"outside\\b.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
  }

  QorTest::HostLinks links_;
  std::wstring base_;
};

} // namespace

TEST_F(HostLinks, ASubfolderSwappedForALinkMidWayKeepsTheTargetsFiles) {
  ASSERT_TRUE(CreateDirectoryW((base_ + L"outside").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((base_ + L"outside\\inner").c_str(), nullptr));
  Write(base_ + L"outside\\a.txt");
  Write(base_ + L"outside\\b.txt", true);
  Write(base_ + L"outside\\inner\\c.txt");
  const std::wstring leftover = base_ + L"Work.tmp\\";
  ASSERT_TRUE(CreateDirectoryW(leftover.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((leftover + L"sub").c_str(), nullptr));
  Write(leftover + L"sub\\x.txt");
  Write(leftover + L"top.txt");

  // Between the listing of the leftover and the deletion of its entries,
  // its subfolder becomes a link to a folder outside.
  bool swapped = false;
  auto swap = [&](const std::wstring& folder) {
    if (!swapped && folder + L"\\" == leftover) {
      swapped = MoveFileW((leftover + L"sub").c_str(), (base_ + L"sub-moved").c_str()) &&
                MakeLink(leftover + L"sub", base_ + L"outside");
    }
  };
  QorFs::RemoveTreeWithoutLinks(leftover, swap);
  ASSERT_TRUE(swapped);
  EXPECT_EQ(PathKind::Link,
            QorFs::ClassifyAttributes(GetFileAttributesW((leftover + L"sub").c_str())));
  EXPECT_FALSE(Exists(leftover + L"top.txt"));
  ExpectOutsideIntact();

  // The link there from the start: the leftover is moved aside whole and the
  // link never entered.
  QorFs::PinnedFolder pinned = QorFs::MakeWorkingFolder(leftover);
  ASSERT_TRUE(pinned.valid());
  EXPECT_FALSE(Exists(pinned.path() + L"sub"));
  ExpectOutsideIntact();
  pinned.CleanUp();
}

namespace {

// A folder above the working folder re-pointed while it is used: "above"
// leads to "real" first and then to "decoy", where another program laid
// out the names it expects the working folder to reach.
class RepointedAbove : public HostLinks {
protected:
  // A fresh layout for each case, in a folder of its own.
  void NewRound() {
    ++round_;
    root_ = base_ + L"round" + std::to_wstring(round_) + L"\\";
    ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root_ + L"real").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root_ + L"decoy").c_str(), nullptr));
    ASSERT_TRUE(MakeLink(root_ + L"above", root_ + L"real"));
  }
  // What a leftover, or the other program's copy of it, holds.
  static void Plant(const std::wstring& folder) {
    QorFs::CreateDirectories(folder + L"sub\\deep\\");
    Write(folder + L"a.txt");
    Write(folder + L"b.txt", true);
    Write(folder + L"sub\\c.txt");
    Write(folder + L"sub\\deep\\d.txt");
  }
  bool Repoint() { return MakeLink(root_ + L"above", root_ + L"decoy"); }
  // The files below folder that still hold what was planted; -1 when one
  // was changed.
  static int KeptFiles(const std::wstring& folder) {
    int kept = 0;
    for (const std::wstring& name : QorTest::ListEntries(folder)) {
      const std::wstring path = folder + name;
      if (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
        const int inside = KeptFiles(path + L"\\");
        if (inside < 0) {
          return -1;
        }
        kept += inside;
      } else {
        std::string content;
        if (!QorTest::ReadFileBytes(path, content) || content != "kept") {
          return -1;
        }
        ++kept;
      }
    }
    return kept;
  }

  static int round_;
  std::wstring root_;
};

int RepointedAbove::round_ = 0;

} // namespace

// The other program sees the leftover moved aside, copies its layout under
// the aside name into its own folder and re-points the folder above: a
// removal by path would now delete the copy's files.
TEST_F(RepointedAbove, DuringTheLeftoversRemovalNothingElsewhereGoes) {
  struct Case {
    const char* name;
    const wchar_t* listed; // the folder whose listing is followed by the re-pointing
  } cases[] = {{"after the leftover's own listing", L""}, {"after its subfolder's", L"\\sub"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(NewRound());
    Plant(root_ + L"real\\Work.tmp\\");
    const std::wstring above = root_ + L"above\\";
    bool repointed = false;
    int planted = 0;
    auto other = [&](const std::wstring& folder) {
      const std::wstring relative = folder.substr(above.size());
      const std::wstring suffix = c.listed;
      if (repointed || relative.size() < suffix.size() ||
          relative.compare(relative.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return;
      }
      Plant(root_ + L"decoy\\" + relative + L"\\");
      planted = KeptFiles(root_ + L"decoy\\");
      repointed = Repoint();
    };
    QorFs::PinnedFolder pinned = QorFs::MakeWorkingFolder(above + L"Work.tmp\\", other);
    ASSERT_TRUE(repointed);
    ASSERT_TRUE(pinned.valid());
    EXPECT_EQ(above + L"Work.tmp\\", pinned.path());
    EXPECT_GE(planted, 4);
    EXPECT_EQ(planted, KeptFiles(root_ + L"decoy\\")) << "the other folder's files are untouched";
    // The leftover is gone whole from where it was; the new folder is
    // where the leftover was, not in the other folder.
    EXPECT_EQ((std::vector<std::wstring>{L"Work.tmp"}), QorTest::ListEntries(root_ + L"real\\"));
    EXPECT_TRUE(QorTest::ListEntries(root_ + L"real\\Work.tmp\\").empty());
    EXPECT_FALSE(pinned.StillInPlace());
    pinned.CleanUp();
    EXPECT_TRUE(QorTest::ListEntries(root_ + L"real\\").empty());
    EXPECT_EQ(planted, KeptFiles(root_ + L"decoy\\"));
  }
}

// Once the folder is made, its path is read only to check it: files are
// made, opened and deleted, and the folder removed, where it is.
TEST_F(RepointedAbove, AfterwardsEverythingInsideStaysWhereItIs) {
  ASSERT_NO_FATAL_FAILURE(NewRound());
  const std::wstring above = root_ + L"above\\";
  QorFs::PinnedFolder pinned = QorFs::MakeWorkingFolder(above + L"Work.tmp\\");
  ASSERT_TRUE(pinned.valid());
  Plant(root_ + L"decoy\\Work.tmp\\");
  const int planted = KeptFiles(root_ + L"decoy\\");
  Qor::UniqueFile before = pinned.CreateNewFile(L"before.txt");
  ASSERT_TRUE(before.valid());
  ASSERT_TRUE(Repoint());

  Qor::UniqueFile after = pinned.CreateNewFile(L"a.txt");
  ASSERT_TRUE(after.valid()) << "made where the folder is, beside before.txt";
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(after.get(), "ours", 4, &written, nullptr));
  after.reset();
  Qor::UniqueFile run = pinned.OpenToRun(L"a.txt");
  ASSERT_TRUE(run.valid());
  char bytes[8] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(run.get(), bytes, sizeof bytes, &got, nullptr));
  EXPECT_EQ("ours", std::string(bytes, got));
  // Its path now leads elsewhere: a start by that path must not happen.
  EXPECT_FALSE(pinned.StillInPlace());
  EXPECT_FALSE(pinned.PathLeadsTo(L"a.txt", run.get()));
  run.reset();
  before.reset();

  std::vector<std::wstring> inside = QorTest::ListEntries(root_ + L"real\\Work.tmp\\");
  std::sort(inside.begin(), inside.end());
  EXPECT_EQ((std::vector<std::wstring>{L"a.txt", L"before.txt"}), inside);
  pinned.CleanUp();
  EXPECT_TRUE(QorTest::ListEntries(root_ + L"real\\").empty());
  EXPECT_EQ(planted, KeptFiles(root_ + L"decoy\\"));
}
