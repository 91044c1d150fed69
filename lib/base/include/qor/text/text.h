// printf-style formatting into wide strings, and small text helpers.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <locale>
#include <string>
#include <vector>

namespace QorString {

// Replaces out with the formatted text. Raises 802 (text too long) or 803
// (no memory for the buffer); out is unchanged then.
void Format(std::wstring& out, const wchar_t* format, ...);
void FormatV(std::wstring& out, const wchar_t* format, va_list args);
// The formatted text as a new string; raises as Format does.
std::wstring FormatText(const wchar_t* format, ...);

std::wstring FormatByteSize(std::int64_t value);
std::wstring FormatCount(std::int64_t value);

void ToLowerInPlace(std::wstring& text, const std::locale& locale);
std::wstring ToLower(const std::wstring& text, const std::locale& locale);
std::wstring ToLower(const wchar_t* text, const std::locale& locale);
// The same as ToLower(text, std::locale()) while the program's global locale
// is the classic one, which nothing in this library changes: characters from
// 128 up go through the C library's towlower, as the classic locale's facet
// does. It reaches no std::locale, which would link the whole locale
// machinery into a program.
std::wstring ToLower(const std::wstring& text);

void Rot13(std::wstring& text);
void RemoveTabs(std::wstring& text);
std::string EscapeBackslashes(const std::string& text);
void Split(const std::wstring& text, const std::wstring& delimiters,
           std::vector<std::wstring>& pieces);

// Writes at most size - 1 characters and always a terminating zero. Returns
// the count written, or a negative value when the text was cut.
int FormatToBuffer(char* buffer, std::size_t size, const char* format, va_list args);
int FormatToBuffer(wchar_t* buffer, std::size_t size, const wchar_t* format, va_list args);

} // namespace QorString
