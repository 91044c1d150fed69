#include "qor/reg/ini_file.h"
#include "qor/reg/error_codes.h"

#include "qor/error/win32_error.h"

#include "qor/test/errors.h"
#include "qor/test/folders.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <memory>
#include <string>
#include <vector>

using QorReg::IniFile;

namespace {

using QorTest::Catch;
using QorTest::ErrorPtr;

// Every test gets a folder of its own under the temporary folder.
class IniFileTest : public ::testing::Test {
protected:
  std::wstring Write(const wchar_t* name, const std::string& content) {
    return scratch_.Write(name, content);
  }
  std::string Read(const std::wstring& path) {
    std::string content;
    QorTest::ReadFileBytes(path, content);
    return content;
  }

  QorTest::ScratchFolder scratch_;
  const std::wstring folder_ = scratch_.path();
};

} // namespace

TEST_F(IniFileTest, MissingFile) {
  const std::wstring path = folder_ + L"missing.ini";
  ErrorPtr error = Catch([&] { IniFile ini(path); });
  ASSERT_TRUE(error);
  EXPECT_EQ(L"[133] Can't find the file '" + path + L"'.\n", error->GetFullText(true));

  IniFile ini(path, true);
  EXPECT_TRUE(ini.GetSections().empty());
  error = Catch([&] { ini.GetString(L"S", L"k"); });
  ASSERT_TRUE(error);
  EXPECT_EQ(L"[138] Can't find the section 'S' in file '" + path + L"'.\n",
            error->GetFullText(true));
  EXPECT_FALSE(ini.KeyHasValue(L"S", L"k"));

  ini.SetString(L"S", L"k", L"value");
  EXPECT_TRUE(ini.SectionExists(L"S"));
  EXPECT_EQ(L"value", ini.GetString(L"S", L"k"));
  EXPECT_TRUE(ini.KeyHasValue(L"S", L"k"));
  IniFile reread(path);
  EXPECT_EQ(L"value", reread.GetString(std::wstring(L"S"), std::wstring(L"k")));
}

TEST_F(IniFileTest, SectionsAreCaseSensitive) {
  const std::wstring path = Write(L"case.ini", "[Main]\r\nk=v\r\n[Other]\r\n");
  IniFile ini(path);
  EXPECT_EQ((std::set<std::wstring>{L"Main", L"Other"}), ini.GetSections());
  EXPECT_TRUE(ini.SectionExists(L"Main"));
  EXPECT_FALSE(ini.SectionExists(L"main"));
  EXPECT_EQ(L"v", ini.GetString(L"Main", L"k"));
  ErrorPtr error = Catch([&] { ini.GetString(L"main", L"k"); });
  ASSERT_TRUE(error);
  EXPECT_EQ(QorReg::kIniSectionMissingError, error->GetCode());
  EXPECT_FALSE(ini.KeyHasValue(L"main", L"k"));
  // The system's functions themselves ignore case.
  EXPECT_EQ(L"v", ini.GetString(L"Main", L"K"));
}

TEST_F(IniFileTest, LongValuesComeBackWhole) {
  // Each length against the buffers of 512, 1024, ... characters.
  const std::size_t lengths[] = {1, 510, 511, 512, 600, 1023, 5000, 70000};
  std::string content = "[S]\r\n";
  for (std::size_t length : lengths) {
    content += "k" + std::to_string(length) + "=" + std::string(length, 'a') + "b\r\n";
  }
  const std::wstring path = Write(L"long.ini", content);
  IniFile ini(path);
  for (std::size_t length : lengths) {
    std::wstring key = L"k" + std::to_wstring(length);
    EXPECT_EQ(std::wstring(length, L'a') + L"b", ini.GetString(L"S", key)) << length;
  }
}

TEST_F(IniFileTest, AbsentAndEmptyKeys) {
  const std::wstring path = Write(L"keys.ini", "[S]\r\nempty=\r\nfull=x\r\n");
  IniFile ini(path);
  for (const wchar_t* key : {L"absent", L"empty"}) {
    ErrorPtr error = Catch([&] { ini.GetString(L"S", key); });
    ASSERT_TRUE(error) << key;
    EXPECT_EQ(L"[139] Can't read the key '" + std::wstring(key) + L"', section 'S' in file '" +
                  path + L"' because value is too long.\n",
              error->GetFullText(true));
    EXPECT_FALSE(ini.KeyHasValue(L"S", key));
  }
  EXPECT_TRUE(ini.KeyHasValue(L"S", L"full"));
}

TEST_F(IniFileTest, Integers) {
  const std::wstring path =
      Write(L"int.ini", "[S]\r\na=12abc\r\nb=abc\r\nc= -7\r\nd=+3\r\ne=0x10\r\n");
  IniFile ini(path);
  struct Case {
    const wchar_t* key;
    int value;
  };
  const Case cases[] = {{L"a", 12}, {L"b", 0}, {L"c", -7}, {L"d", 3}, {L"e", 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(c.value, ini.GetInt(L"S", c.key)) << c.key;
  }
  ini.SetInt(L"N", L"neg", -5);
  EXPECT_TRUE(ini.SectionExists(L"N"));
  EXPECT_EQ(L"-5", ini.GetString(L"N", L"neg"));
  EXPECT_NE(std::string::npos, Read(path).find("neg=-5"));
  ErrorPtr error = Catch([&] { ini.GetInt(L"S", L"missing"); });
  ASSERT_TRUE(error);
  EXPECT_EQ(QorReg::kIniValueTooLongError, error->GetCode());
}

TEST_F(IniFileTest, PercentSignsAreShownUnchanged) {
  const std::wstring path = folder_ + L"100%s%d%n.ini";
  ErrorPtr error = Catch([&] { IniFile ini(path); });
  ASSERT_TRUE(error);
  EXPECT_EQ(L"Can't find the file '" + path + L"'.\n", error->GetMessageText());

  IniFile ini(path, true);
  ini.SetString(L"%s", L"%d", L"1");
  error = Catch([&] { ini.GetString(L"%s", L"%n%s"); });
  ASSERT_TRUE(error);
  EXPECT_EQ(L"Can't read the key '%n%s', section '%s' in file '" + path +
                L"' because value is too long.\n",
            error->GetMessageText());
  error = Catch([&] { ini.GetString(L"%x", L"k"); });
  ASSERT_TRUE(error);
  EXPECT_EQ(L"Can't find the section '%x' in file '" + path + L"'.\n", error->GetMessageText());
}

TEST_F(IniFileTest, KeysAndDeletion) {
  const std::wstring path = Write(L"del.ini", "[Main]\r\nb=2\r\na=1\r\nc=3\r\n[Empty]\r\n");
  IniFile ini(path);
  std::vector<std::wstring> keys = {L"kept"};
  ini.GetKeys(L"Main", keys);
  EXPECT_EQ((std::vector<std::wstring>{L"kept", L"b", L"a", L"c"}), keys);
  keys.clear();
  ini.GetKeys(L"Empty", keys);
  EXPECT_TRUE(keys.empty());
  ErrorPtr error = Catch([&] { ini.GetKeys(L"main", keys); });
  ASSERT_TRUE(error);
  EXPECT_EQ(L"[141] Can't find the section 'main' in file '" + path + L"'.\n",
            error->GetFullText(true));

  EXPECT_NE(FALSE, ini.DeleteKey(L"Main", L"a"));
  EXPECT_FALSE(ini.KeyHasValue(L"Main", L"a"));
  EXPECT_NE(FALSE, ini.DeleteKey(L"Main", L"absent"));
  ini.DeleteKey(L"Main", L"b");
  ini.DeleteKey(L"Main", L"c");
  // The cache keeps a section whose keys are all gone.
  EXPECT_TRUE(ini.SectionExists(L"Main"));

  // A section that is not cached is left alone, even when the file has it
  // under another case.
  const std::string before = Read(path);
  ini.DeleteSection(L"main");
  ini.DeleteSection(L"Unknown");
  EXPECT_EQ(before, Read(path));

  ini.DeleteSection(L"Empty");
  EXPECT_FALSE(ini.SectionExists(L"Empty"));
  EXPECT_EQ(std::string::npos, Read(path).find("[Empty]"));
}

TEST_F(IniFileTest, SectionsAddedByOthersNeedReload) {
  const std::wstring path = Write(L"reload.ini", "[A]\r\nk=1\r\n");
  IniFile first(path);
  IniFile second(path);
  second.SetString(L"B", L"k", L"2");
  EXPECT_FALSE(first.SectionExists(L"B"));
  first.LoadSections(false);
  EXPECT_EQ((std::set<std::wstring>{L"A", L"B"}), first.GetSections());
}

TEST_F(IniFileTest, FailedWritesReportTheSystemError) {
  const std::wstring path = folder_ + L"no such folder\\x.ini";
  IniFile ini(path, true);
  struct Case {
    int code;
    std::wstring text;
    std::function<void()> write;
  };
  const std::wstring where = L"'k', section 'S' in file '" + path + L"'";
  const Case cases[] = {
      {QorReg::kIniSetStringError, L"Can't save a string value in key " + where,
       [&] { ini.SetString(L"S", L"k", L"v"); }},
      {QorReg::kIniSetIntError, L"Can't save an int value in key " + where,
       [&] { ini.SetInt(L"S", L"k", 1); }},
      {QorReg::kIniDeleteKeyError, L"Unable to delete the key " + where,
       [&] { ini.DeleteKey(L"S", L"k"); }},
  };
  for (const Case& c : cases) {
    ErrorPtr error = Catch(c.write);
    if (!error) {
      GTEST_SKIP() << "Wine reports success for a profile write into a missing folder";
    }
    auto* win32 = dynamic_cast<QorWin32::Win32Error*>(error.get());
    ASSERT_TRUE(win32);
    EXPECT_EQ(c.code, error->GetCode());
    EXPECT_EQ(L"[Win32] [" + std::to_wstring(win32->GetSystemCode()) + L"] " + c.text + L"\n" +
                  QorWin32::DescribeSystemError(win32->GetSystemCode()) + L"\n",
              error->GetMessageText());
    EXPECT_FALSE(ini.SectionExists(L"S"));
  }
}
