// Separators at the ends of Windows paths. Pure text: nothing here asks the
// file system.
#pragma once

#include <string>

namespace QorString {

// What WithTrailingBackslash makes of an empty path.
enum class EmptyPath {
  GetsBackslash, // "" gives "\"
  StaysEmpty,    // "" stays "": as a prefix of names it means the current folder
};

// Which characters at the end already count as a separator. Windows takes
// '/' as one too, but most of the library writes and expects backslashes.
enum class EndSeparators {
  BackslashOnly,
  BackslashOrSlash,
};

// path ending in a separator: a backslash is appended unless it ends in one
// already.
std::wstring WithTrailingBackslash(std::wstring path, EmptyPath empty = EmptyPath::GetsBackslash,
                                   EndSeparators separators = EndSeparators::BackslashOnly);

// path without the one backslash at its end, if it has one ("C:\" gives "C:").
std::wstring WithoutTrailingBackslash(std::wstring path);

// path up to and including its last backslash ("C:\a\b" gives "C:\a\");
// empty when it has none.
std::wstring FolderPart(const std::wstring& path);

// first, a backslash and second; second alone when first is empty. What
// either part already ends or starts with is kept as it is.
std::wstring JoinWithBackslash(const std::wstring& first, const std::wstring& second);

} // namespace QorString
