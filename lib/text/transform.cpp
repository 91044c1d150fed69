#include "qor/text.h"

#include <cwctype>

namespace QorString {

namespace {

wchar_t LowerChar(wchar_t c, const std::ctype<wchar_t>& facet) {
  if (c >= L'A' && c <= L'Z') {
    return static_cast<wchar_t>(c + 32);
  }
  if (c >= 128) {
    return facet.tolower(c);
  }
  return c;
}

} // namespace

void ToLowerInPlace(std::wstring& text, const std::locale& locale) {
  const auto& facet = std::use_facet<std::ctype<wchar_t>>(locale);
  for (auto& c : text) {
    c = LowerChar(c, facet);
  }
}

std::wstring ToLower(const std::wstring& text, const std::locale& locale) {
  const auto& facet = std::use_facet<std::ctype<wchar_t>>(locale);
  std::wstring result;
  result.reserve(text.size());
  for (wchar_t c : text) {
    result += LowerChar(c, facet);
  }
  return result;
}

std::wstring ToLower(const wchar_t* text, const std::locale& locale) {
  return ToLower(std::wstring(text ? text : L""), locale);
}

void Rot13(std::wstring& text) {
  static const wchar_t kLower[] = L"nopqrstuvwxyzabcdefghijklm";
  static const wchar_t kUpper[] = L"NOPQRSTUVWXYZABCDEFGHIJKLM";
  for (auto& c : text) {
    if (!std::iswalpha(static_cast<wint_t>(c))) {
      continue;
    }
    if (c >= L'a' && c <= L'z') {
      c = kLower[c - L'a'];
    } else if (c >= L'A' && c <= L'Z') {
      c = kUpper[c - L'A'];
    }
  }
}

void RemoveTabs(std::wstring& text) {
  std::wstring result;
  result.reserve(text.size());
  for (wchar_t c : text) {
    if (c != L'\t') {
      result += c;
    }
  }
  text.swap(result);
}

std::string EscapeBackslashes(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    result += c;
    if (c == '\\') {
      result += '\\';
    }
  }
  return result;
}

void Split(const std::wstring& text, const std::wstring& delimiters,
           std::vector<std::wstring>& pieces) {
  std::size_t position = 0;
  while (true) {
    std::size_t start = text.find_first_not_of(delimiters, position);
    if (start == std::wstring::npos) {
      return;
    }
    std::size_t end = text.find_first_of(delimiters, start);
    if (end == std::wstring::npos) {
      end = text.size();
    }
    pieces.push_back(text.substr(start, end - start));
    if (end == text.size()) {
      return;
    }
    position = end + 1;
  }
}

} // namespace QorString
