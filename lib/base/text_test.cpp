#include "qor/text/text.h"

#include "qor/error/error.h"

#include <gtest/gtest.h>

#include <memory>

using QorString::Format;

TEST(Format, WideArgumentsAndNumbers) {
  std::wstring out = L"old";
  Format(out, L"%s=%d (%.2f) %.1f%%", L"name", -42, 1.004, 2.24);
  EXPECT_EQ(L"name=-42 (1.00) 2.2%", out);
  Format(out, L"%d %%", 57);
  EXPECT_EQ(L"57 %", out);
}

TEST(Format, BufferBoundary) {
  for (std::size_t length : {0u, 254u, 255u, 256u, 511u, 512u, 5000u}) {
    std::wstring arg(length, L'x');
    std::wstring out;
    Format(out, L"%s", arg.c_str());
    EXPECT_EQ(arg, out) << length;
  }
}

TEST(Format, TooLongRaises802AndKeepsOutput) {
  // 2^24 characters do not fit: the largest buffer holds 2^24 - 1.
  std::wstring arg(16777216, L'y');
  std::wstring out = L"kept";
  try {
    Format(out, L"%s", arg.c_str());
    FAIL() << "no error";
  } catch (QorError::Exception* e) {
    std::unique_ptr<QorError::Exception> owned(e);
    EXPECT_EQ(L"[802] QorString::Format() failed (too long string)\n", e->GetFullText(true));
  }
  EXPECT_EQ(L"kept", out);
  arg.resize(16777215);
  Format(out, L"%s", arg.c_str());
  EXPECT_EQ(16777215u, out.size());
}

TEST(Format, ByteSizesAndCounts) {
  struct Case {
    long long value;
    const wchar_t* size;
    const wchar_t* count;
  } cases[] = {
      {0, L"0 bytes", L"0"},
      {1023, L"1023 bytes", L"1023"},
      {1024, L"1.00 KB", L"1024"},
      {1536, L"1.50 KB", L"1536"},
      {1048575, L"1024.00 KB", L"1.0 mln"},
      {1048576, L"1.00 MB", L"1.0 mln"},
      {1073741824, L"1.00 GB", L"1.1 bln"},
      {5LL << 40, L"5120.00 GB", L"5497.6 bln"},
      {-5, L"-5 bytes", L"-5"},
      {999999, L"976.56 KB", L"999999"},
      {1000000, L"976.56 KB", L"1.0 mln"},
      {1500000, L"1.43 MB", L"1.5 mln"},
      {999999999, L"953.67 MB", L"1000.0 mln"},
      {1000000000, L"953.67 MB", L"1.0 bln"},
      {2500000000LL, L"2.33 GB", L"2.5 bln"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.size, QorString::FormatByteSize(c.value)) << c.value;
    EXPECT_EQ(c.count, QorString::FormatCount(c.value)) << c.value;
  }
}

TEST(FormatToBuffer, TruncatesAndTerminates) {
  auto wide = [](wchar_t* buffer, std::size_t size, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int r = QorString::FormatToBuffer(buffer, size, format, args);
    va_end(args);
    return r;
  };
  auto narrow = [](char* buffer, std::size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int r = QorString::FormatToBuffer(buffer, size, format, args);
    va_end(args);
    return r;
  };
  wchar_t w[6];
  EXPECT_EQ(5, wide(w, 6, L"%s", L"abcde"));
  EXPECT_STREQ(L"abcde", w);
  EXPECT_LT(wide(w, 6, L"%s", L"abcdef"), 0);
  EXPECT_STREQ(L"abcde", w);
  char n[4];
  EXPECT_EQ(3, narrow(n, 4, "%d", 123));
  EXPECT_LT(narrow(n, 4, "%d", 1234), 0);
  EXPECT_STREQ("123", n);
}

TEST(TextTransforms, LowerCase) {
  std::locale loc;
  EXPECT_EQ(L"abc-xyz 09 [@]", QorString::ToLower(L"ABC-xYz 09 [@]", loc));
  std::wstring s = L"PROGRAM Files";
  QorString::ToLowerInPlace(s, loc);
  EXPECT_EQ(L"program files", s);
  EXPECT_EQ(L"", QorString::ToLower(static_cast<const wchar_t*>(nullptr), loc));
}

// Lower-casing without a locale object must agree with the global (classic)
// locale for every character.
TEST(TextTransforms, LowerCaseWithoutLocaleAgreesWithGlobalLocale) {
  std::wstring all;
  for (unsigned c = 1; c <= 0xFFFF; ++c) {
    all += static_cast<wchar_t>(c);
  }
  EXPECT_EQ(QorString::ToLower(all, std::locale()), QorString::ToLower(all));
  EXPECT_EQ(L"abc-xyz 09 [@]", QorString::ToLower(std::wstring(L"ABC-xYz 09 [@]")));
}

TEST(TextTransforms, Rot13) {
  std::wstring s = L"anzM 09 \u00e9!";
  QorString::Rot13(s);
  EXPECT_EQ(L"namZ 09 \u00e9!", s);
  QorString::Rot13(s);
  EXPECT_EQ(L"anzM 09 \u00e9!", s);
}

TEST(TextTransforms, TabsBackslashesSplit) {
  std::wstring t = L"\ta\tb\t\t";
  QorString::RemoveTabs(t);
  EXPECT_EQ(L"ab", t);
  EXPECT_EQ("C:\\\\a\\\\b\\\\", QorString::EscapeBackslashes("C:\\a\\b\\"));

  std::vector<std::wstring> pieces{L"kept"};
  QorString::Split(L",a,,b,", L",", pieces);
  EXPECT_EQ((std::vector<std::wstring>{L"kept", L"a", L"b"}), pieces);
  pieces.clear();
  QorString::Split(L",,;", L",;", pieces);
  QorString::Split(L"", L",", pieces);
  EXPECT_TRUE(pieces.empty());
  QorString::Split(L"one two;three", L" ;", pieces);
  EXPECT_EQ((std::vector<std::wstring>{L"one", L"two", L"three"}), pieces);
}
