// Paths, folder creation, existence tests, unique names and file comparison.
// Paths are Windows paths with the backslash as separator; a path that names
// a folder conventionally ends in a backslash.
#pragma once

#include <cstdint>
#include <string>

namespace QorFs {

// Creates every folder named by a part of the path that is followed by a
// backslash, so "C:\A\B\" creates B too and "C:\A\B\f.txt" stops at B.
// Raises QorWin32::Win32Error 422 naming the folder that could not be made;
// folders made before the failure stay.
void CreateDirectories(const std::wstring& path);

bool Exists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);
bool IsFile(const std::wstring& path);

// 0 when the path cannot be found.
std::uint64_t FileSize(const std::wstring& path);

// Every component after the drive in its long form, without a trailing
// backslash ("C:\" gives "C:"). Raises QorWin32::Win32Error 421 when a
// component cannot be looked up. A relative path keeps its relative form.
std::wstring ToLongPath(const std::wstring& path);
// The same with the caller's own error code and message.
std::wstring ToLongPath(const std::wstring& path, int errorCode, const wchar_t* message);

// Raises QorWin32::Win32Error 423 or 424.
std::wstring GetCurrentDir();

// The text after the last backslash; empty when the path ends in one.
std::wstring FileNamePart(const std::wstring& path);

// base is a folder; returns base (with one trailing backslash) followed by
// randomChars characters from [a-zA-Z0-9] such that nothing of that name
// exists at the moment of the check. randomChars must be at least 1: a
// QorError::RangeError 425 is raised otherwise.
std::wstring MakeUniqueName(const std::wstring& base, int randomChars);

// randomChars characters from [a-zA-Z0-9] drawn from the system's
// cryptographic generator: a name that other programs can neither guess nor
// take first. Raises QorWin32::Win32Error 426 when the system has no such
// generator or it fails.
std::wstring MakeSecretName(int randomChars);

// True when both files can be read and have the same bytes; false when they
// differ or either cannot be opened.
bool FilesEqual(const std::wstring& first, const std::wstring& second);

} // namespace QorFs
