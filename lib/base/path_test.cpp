#include "qor/text/path.h"

#include <gtest/gtest.h>

using QorString::EmptyPath;
using QorString::EndSeparators;

TEST(PathSeparators, WithTrailingBackslash) {
  struct Case {
    const wchar_t* path;
    EmptyPath empty;
    EndSeparators separators;
    const wchar_t* expected;
  } cases[] = {
      {L"", EmptyPath::GetsBackslash, EndSeparators::BackslashOnly, L"\\"},
      {L"", EmptyPath::StaysEmpty, EndSeparators::BackslashOnly, L""},
      {L"", EmptyPath::StaysEmpty, EndSeparators::BackslashOrSlash, L""},
      {L"C:\\", EmptyPath::GetsBackslash, EndSeparators::BackslashOnly, L"C:\\"},
      {L"C:", EmptyPath::GetsBackslash, EndSeparators::BackslashOnly, L"C:\\"},
      {L"C:\\a", EmptyPath::GetsBackslash, EndSeparators::BackslashOnly, L"C:\\a\\"},
      {L"C:\\a", EmptyPath::StaysEmpty, EndSeparators::BackslashOrSlash, L"C:\\a\\"},
      {L"C:\\a\\", EmptyPath::StaysEmpty, EndSeparators::BackslashOnly, L"C:\\a\\"},
      {L"C:\\a\\\\", EmptyPath::GetsBackslash, EndSeparators::BackslashOnly, L"C:\\a\\\\"},
      {L"\\", EmptyPath::StaysEmpty, EndSeparators::BackslashOnly, L"\\"},
      {L"sub", EmptyPath::StaysEmpty, EndSeparators::BackslashOnly, L"sub\\"},
      // A slash counts only where the caller says so.
      {L"C:\\a/", EmptyPath::StaysEmpty, EndSeparators::BackslashOnly, L"C:\\a/\\"},
      {L"C:\\a/", EmptyPath::StaysEmpty, EndSeparators::BackslashOrSlash, L"C:\\a/"},
      {L"/", EmptyPath::GetsBackslash, EndSeparators::BackslashOrSlash, L"/"},
      // Spaces are text, not something to trim.
      {L"C:\\a ", EmptyPath::GetsBackslash, EndSeparators::BackslashOnly, L"C:\\a \\"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, QorString::WithTrailingBackslash(c.path, c.empty, c.separators))
        << "\"" << c.path << "\" " << static_cast<int>(c.empty) << " "
        << static_cast<int>(c.separators);
  }
  // The defaults: an empty path gets a backslash, a slash is no separator.
  EXPECT_EQ(L"\\", QorString::WithTrailingBackslash(L""));
  EXPECT_EQ(L"C:\\a/\\", QorString::WithTrailingBackslash(L"C:\\a/"));
}

TEST(PathSeparators, WithoutTrailingBackslash) {
  struct Case {
    const wchar_t* path;
    const wchar_t* expected;
  } cases[] = {
      {L"", L""},
      {L"\\", L""},
      {L"C:\\", L"C:"},
      {L"C:\\a\\", L"C:\\a"},
      {L"C:\\a", L"C:\\a"},
      {L"C:\\a\\\\", L"C:\\a\\"}, // only one goes
      {L"C:\\a/", L"C:\\a/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, QorString::WithoutTrailingBackslash(c.path)) << "\"" << c.path << "\"";
  }
}

TEST(PathSeparators, FolderPart) {
  struct Case {
    const wchar_t* path;
    const wchar_t* expected;
  } cases[] = {
      {L"", L""},
      {L"name.exe", L""},
      {L"C:\\", L"C:\\"},
      {L"C:\\setup.exe", L"C:\\"},
      {L"C:\\a\\b", L"C:\\a\\"},
      {L"C:\\a\\b\\", L"C:\\a\\b\\"},
      {L"C:/a/b", L""}, // a slash is no separator here
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, QorString::FolderPart(c.path)) << "\"" << c.path << "\"";
  }
}

TEST(PathSeparators, JoinWithBackslash) {
  struct Case {
    const wchar_t* first;
    const wchar_t* second;
    const wchar_t* expected;
  } cases[] = {
      {L"", L"Software\\Veltrano", L"Software\\Veltrano"},
      {L"HKEY_CURRENT_USER", L"Software", L"HKEY_CURRENT_USER\\Software"},
      {L"a", L"", L"a\\"},
      {L"", L"", L""},
      // What the parts bring is kept: no separator is merged or dropped.
      {L"a\\", L"b", L"a\\\\b"},
      {L"a", L"\\b", L"a\\\\b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, QorString::JoinWithBackslash(c.first, c.second))
        << "\"" << c.first << "\" + \"" << c.second << "\"";
  }
}
