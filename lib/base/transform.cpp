#include "qor/text/text.h"

#include <cwctype>

namespace QorString {

std::wstring ToLower(const std::wstring& text) {
  std::wstring result(text);
  for (wchar_t& c : result) {
    if (c >= L'A' && c <= L'Z') {
      c = static_cast<wchar_t>(c + 32);
    } else if (c >= 128) {
      c = static_cast<wchar_t>(std::towlower(c));
    }
  }
  return result;
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
