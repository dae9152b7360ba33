#pragma once
// Small path and string helpers for UTF-16 file names.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "framework/WinTypes.h"

// Position of the dot that starts the file name's extension: the last "." after the last
// "/" or "\". None when the name has no dot, or when its only dot is its first character
// (".hidden" has no extension, "dir/.hidden" neither).
std::optional<size_t> extensionOf(std::u16string_view path);

// Absolute, lexically normalised form of a path ("." and ".." resolved, repeated
// separators folded) against the current directory; the file need not exist and symbolic
// links are kept, as the platform's full-path resolution does. Writes the NUL-terminated
// result to buffer and returns buffer; none when path is null or empty, the current
// directory is unknown, or the result with its NUL does not fit in size units (nothing is
// written then).
LPWSTR fullPathOf(LPCWSTR path, LPWSTR buffer, size_t size);
std::optional<std::u16string> fullPathOf(std::u16string_view path);

// Lower case of one UTF-16 unit: ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic and the
// full-width Latin letters; every other unit (surrogates included) is unchanged. Fixed
// tables rather than the C library, so the result does not depend on the process locale.
char16_t lowerCaseUnit(char16_t c);

// Unit-by-unit comparison after lower-casing; 0 when equal, else the difference of the
// first differing lowered units (a shorter string compares as if followed by NUL).
int compareNoCase(std::u16string_view a, std::u16string_view b);
// NUL-terminated form; a null pointer counts as the empty string.
int compareNoCase(LPCWSTR a, LPCWSTR b);
