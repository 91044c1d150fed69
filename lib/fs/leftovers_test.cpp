#include "qor/fs/leftovers.h"

#include "qor/fs/private_folder.h"
#include "qor/handle/unique_handle.h"

#include "qor/test/folders.h"
#include "qor/test/host_links.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr ULONGLONG kHour = 60ull * 60 * 10000000;
const wchar_t kPrefix[] = L"QorVTInst-";
const wchar_t kSecret[] = L"aZ09bY18cX27dW36"; // 16 letters and digits

ULONGLONG Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

FILETIME Time(ULONGLONG count) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(count);
  time.dwHighDateTime = static_cast<DWORD>(count >> 32);
  return time;
}

// Sets the times of the file or folder at path; its contents must be in
// place already, as every change inside a folder writes its time.
bool Age(const std::wstring& path, ULONGLONG age) {
  Qor::UniqueFile handle(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  const FILETIME then = Time(Now() - age);
  return handle && SetFileTime(handle.get(), &then, &then, &then);
}

// The owner the system reports for the folder at path, as SDDL text.
std::wstring OwnerOf(const std::wstring& path) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                            nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return std::wstring();
  }
  wchar_t* text = nullptr;
  std::wstring result;
  if (ConvertSidToStringSidW(owner, &text)) {
    result = text;
    LocalFree(text);
  }
  LocalFree(descriptor);
  return result;
}

// A SID from its text, freed with the object.
class Sid {
public:
  explicit Sid(const std::wstring& text) {
    PSID sid = nullptr;
    EXPECT_TRUE(ConvertStringSidToSidW(text.c_str(), &sid))
        << std::string(text.begin(), text.end());
    sid_.reset(sid);
  }
  PSID get() const { return sid_.get(); }

private:
  Qor::UniqueLocal sid_;
};

} // namespace

// Only a plain folder of exactly that shape of name, owned as expected,
// made and last written more than a day ago, is a leftover to remove.
TEST(StaleLeftovers, WhatCountsAsALeftover) {
  const ULONGLONG now = 400000 * kHour;
  const ULONGLONG old = now - 25 * kHour;
  const std::wstring name = std::wstring(kPrefix) + kSecret;
  struct Case {
    const char* what;
    std::wstring name;
    DWORD attributes;
    ULONGLONG created, written;
    bool owned;
    bool stale;
  } cases[] = {
      {"a leftover", name, FILE_ATTRIBUTE_DIRECTORY, old, old, true, true},
      {"read-only and hidden", name,
       FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, old, old, true,
       true},
      {"made less than a day ago", name, FILE_ATTRIBUTE_DIRECTORY, now - 23 * kHour, old, true,
       false},
      {"written less than a day ago", name, FILE_ATTRIBUTE_DIRECTORY, old, now - kHour, true,
       false},
      {"made after now", name, FILE_ATTRIBUTE_DIRECTORY, now + kHour, old, true, false},
      {"owned by someone else", name, FILE_ATTRIBUTE_DIRECTORY, old, old, false, false},
      {"a file", name, FILE_ATTRIBUTE_NORMAL, old, old, true, false},
      {"a link to a folder", name, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, old,
       old, true, false},
      {"unknown attributes", name, INVALID_FILE_ATTRIBUTES, old, old, true, false},
      {"the prefix alone", kPrefix, FILE_ATTRIBUTE_DIRECTORY, old, old, true, false},
      {"a secret part too short", name.substr(0, name.size() - 1), FILE_ATTRIBUTE_DIRECTORY, old,
       old, true, false},
      {"a secret part too long", name + L"x", FILE_ATTRIBUTE_DIRECTORY, old, old, true, false},
      {"not a letter or digit", std::wstring(kPrefix) + L"aZ09bY18cX27dW3-",
       FILE_ATTRIBUTE_DIRECTORY, old, old, true, false},
      {"another prefix", std::wstring(L"QorVTInst.") + kSecret, FILE_ATTRIBUTE_DIRECTORY, old, old,
       true, false},
      {"the prefix in another case", std::wstring(L"qorvtinst-") + kSecret,
       FILE_ATTRIBUTE_DIRECTORY, old, old, true, false},
      {"the folder of a run without rights", L"QorVTInst.tmp", FILE_ATTRIBUTE_DIRECTORY, old, old,
       true, false},
  };
  for (const Case& c : cases) {
    QorFs::LeftoverFacts facts;
    facts.name = c.name;
    facts.attributes = c.attributes;
    facts.created = c.created;
    facts.lastWritten = c.written;
    facts.ownedAsExpected = c.owned;
    EXPECT_EQ(c.stale, QorFs::IsStaleLeftover(facts, kPrefix, now)) << c.what;
  }
}

// The walk over a real folder: the old leftover goes whole, read-only
// files and a subfolder included; a young one, a file of that name, a
// folder of another name and everything that is not the expected owner's
// stay. (This system reports the account that made a folder as its owner,
// whatever owner it was made with: the owner that counts is given.)
TEST(StaleLeftovers, RemovedWholeAndNothingElse) {
  QorTest::ScratchFolder scratch;
  const std::wstring folder = scratch.path();
  const std::wstring leftover = std::wstring(kPrefix) + kSecret;
  const std::wstring young = std::wstring(kPrefix) + L"youngYOUNG012345";
  const std::wstring file = std::wstring(kPrefix) + L"fileFILE01234567";
  const std::wstring other = L"QorVTInst.tmp";
  for (const std::wstring& name : {leftover, young, other}) {
    scratch.MakeFolder(name);
    scratch.Write(name + L"\\a.txt", "kept");
  }
  scratch.Write(leftover + L"\\b.txt", "kept", FILE_ATTRIBUTE_READONLY);
  scratch.MakeFolder(leftover + L"\\sub");
  scratch.Write(leftover + L"\\sub\\c.txt", "kept");
  scratch.Write(file, "kept");
  for (const std::wstring& name : {leftover, leftover + L"\\sub", other, file}) {
    ASSERT_TRUE(Age(folder + name, 48 * kHour)) << std::string(name.begin(), name.end());
  }
  ASSERT_TRUE(Age(folder + young, kHour));
  const std::wstring owner = OwnerOf(folder + leftover);
  ASSERT_FALSE(owner.empty());

  // Owned by another account: nothing goes.
  const Sid system(L"S-1-5-18");
  const Sid ours(owner);
  if (owner != L"S-1-5-18") {
    EXPECT_EQ(0, QorFs::Detail::RemoveStaleLeftovers(folder, kPrefix, system.get()));
    EXPECT_TRUE(scratch.Exists(leftover + L"\\sub\\c.txt"));
  }
  EXPECT_EQ(1, QorFs::Detail::RemoveStaleLeftovers(folder, kPrefix, ours.get()));
  std::vector<std::wstring> left = scratch.List();
  std::sort(left.begin(), left.end());
  std::vector<std::wstring> expected = {file, other, young};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, left);
  EXPECT_TRUE(scratch.Exists(young + L"\\a.txt"));
  EXPECT_TRUE(scratch.Exists(other + L"\\a.txt"));
}

// A link of a leftover's name to an old folder elsewhere is never
// followed: the link and everything it leads to stay.
TEST(LeftoverLinks, ALinkOfThatNameIsNeverFollowed) {
  QorTest::HostLinks links;
  if (!links.available()) {
    GTEST_SKIP() << "needs the link helper: run through tests/support/host_links.sh";
  }
  const std::wstring base = links.folder() + L"leftovers\\";
  const std::wstring outside = base + L"outside";
  const std::wstring link = base + kPrefix + kSecret;
  ASSERT_TRUE(CreateDirectoryW(base.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
  ASSERT_TRUE(QorTest::WriteFileBytes(outside + L"\\a.txt", "kept"));
  ASSERT_TRUE(Age(outside, 48 * kHour));
  ASSERT_TRUE(links.MakeLink(link, outside));
  const Sid ours(OwnerOf(outside));
  EXPECT_EQ(0, QorFs::Detail::RemoveStaleLeftovers(base, kPrefix, ours.get()));
  EXPECT_EQ(QorFs::PathKind::Link, QorFs::ClassifyAttributes(GetFileAttributesW(link.c_str())));
  std::string content;
  EXPECT_TRUE(QorTest::ReadFileBytes(outside + L"\\a.txt", content));
  EXPECT_EQ("kept", content);
}
