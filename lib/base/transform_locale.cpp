// Lower-casing through a given locale, in a file of its own: any use of
// std::locale links the whole locale machinery, which programs that only
// lower-case with the global locale (ToLower without one) do not carry.
#include "qor/text/text.h"

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

} // namespace QorString
