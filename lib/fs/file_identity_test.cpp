// Which identity a file is known by, from what the system tells about it.
#include "identity_choice.h"

#include "qor/fs/file_identity.h"
#include "qor/handle/unique_handle.h"

#include "qor/test/folders.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using QorFs::FileIdentity;
using QorFs::Detail::IdentityFacts;

// The facts of one object: a 128-bit id (lower half, upper half) when given,
// and a file index when GetFileInformationByHandle answered.
IdentityFacts Facts(bool idGiven, ULONGLONG low, ULONGLONG high, bool indexGiven,
                    ULONGLONG index = 0x1234, ULONGLONG serial = 0xABCD) {
  IdentityFacts facts;
  facts.idInfoRead = idGiven;
  facts.idInfo.volumeSerial = serial << 32 | 0x5678;
  for (int i = 0; i < 8; ++i) {
    facts.idInfo.id[i] = static_cast<BYTE>(low >> (8 * i));
    facts.idInfo.id[8 + i] = static_cast<BYTE>(high >> (8 * i));
  }
  facts.fileInfoRead = indexGiven;
  facts.fileInfo.dwVolumeSerialNumber = static_cast<DWORD>(serial);
  facts.fileInfo.nFileIndexHigh = static_cast<DWORD>(index >> 32);
  facts.fileInfo.nFileIndexLow = static_cast<DWORD>(index);
  return facts;
}

} // namespace

// Windows 8 and later tell the 128-bit id; ReFS keeps only it unique, FAT
// reuses the file index. Neither is to be had under Wine.
TEST(FileIdentityChoice, The128BitIdWhereTheSystemGivesOneElseTheFileIndex) {
  const ULONGLONG all = ~0ull;
  struct Case {
    const char* name;
    IdentityFacts facts;
    FileIdentity::Form form;
    ULONGLONG volumeSerial, index, indexHigh;
  } cases[] = {
      {"both told: the 128-bit id", Facts(true, 0x77, 0x99, true), FileIdentity::Form::FileId128,
       0xABCD00005678ull, 0x77, 0x99},
      {"an id of 64 bits, zero-extended", Facts(true, 0x1234, 0, true),
       FileIdentity::Form::FileId128, 0xABCD00005678ull, 0x1234, 0},
      {"no id (before Windows 8): the index", Facts(false, 0x77, 0x99, true),
       FileIdentity::Form::FileIndex, 0xABCD, 0x1234, 0},
      {"an id of zeros: the index", Facts(true, 0, 0, true), FileIdentity::Form::FileIndex, 0xABCD,
       0x1234, 0},
      {"an id of ones (none): the index", Facts(true, all, all, true),
       FileIdentity::Form::FileIndex, 0xABCD, 0x1234, 0},
      {"the id alone", Facts(true, 0x77, 0x99, false), FileIdentity::Form::FileId128,
       0xABCD00005678ull, 0x77, 0x99},
      {"nothing told", Facts(false, 0, 0, false), FileIdentity::Form::None, 0, 0, 0},
      {"an id of zeros and no index", Facts(true, 0, 0, false), FileIdentity::Form::None, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FileIdentity identity = QorFs::Detail::ChooseIdentity(c.facts);
    EXPECT_EQ(c.form, identity.form);
    EXPECT_EQ(c.form != FileIdentity::Form::None, identity.valid);
    EXPECT_EQ(c.volumeSerial, identity.volumeSerial);
    EXPECT_EQ(c.index, identity.index);
    EXPECT_EQ(c.indexHigh, identity.indexHigh);
  }
}

TEST(FileIdentityChoice, ObjectsThatShareAFileIndexAreToldApartByTheirIds) {
  const ULONGLONG index = 0x1234;
  struct Case {
    const char* name;
    IdentityFacts first, second;
    bool same;
  } cases[] = {
      // ReFS: the lower halves agree, the objects differ.
      {"ids differing in the upper half", Facts(true, index, 1, true, index),
       Facts(true, index, 2, true, index), false},
      {"the same id", Facts(true, index, 1, true, index), Facts(true, index, 1, true, index), true},
      {"the same index, no ids", Facts(false, 0, 0, true, index), Facts(false, 0, 0, true, index),
       true},
      // One told by id, the other by index: never taken for the same.
      {"the same numbers in the two forms", Facts(true, index, 0, true, index, 0),
       Facts(false, 0, 0, true, index, 0), false},
      {"nothing told of either", Facts(false, 0, 0, false), Facts(false, 0, 0, false), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.same,
              QorFs::Detail::ChooseIdentity(c.first) == QorFs::Detail::ChooseIdentity(c.second));
  }
}

// Wine tells the 128-bit id, as Windows 8 and later do.
TEST(FileIdentityOf, TheSystemsOwnIdWhereItGivesOne) {
  QorTest::ScratchFolder scratch;
  ASSERT_TRUE(QorTest::WriteFileBytes(scratch.path() + L"a.txt", "a"));
  ASSERT_TRUE(QorTest::WriteFileBytes(scratch.path() + L"b.txt", "b"));
  auto identity = [&](const wchar_t* name) {
    Qor::UniqueFile file(CreateFileW((scratch.path() + name).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
    return QorFs::IdentityOf(file.get());
  };
  const FileIdentity a = identity(L"a.txt");
  EXPECT_TRUE(a.valid);
  EXPECT_EQ(FileIdentity::Form::FileId128, a.form);
  EXPECT_EQ(a, identity(L"a.txt"));
  EXPECT_NE(a, identity(L"b.txt"));
  EXPECT_FALSE(QorFs::IdentityOf(INVALID_HANDLE_VALUE).valid);
}
