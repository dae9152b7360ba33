#pragma once
// Text is UTF-16 throughout the system; it becomes UTF-8 only where the operating system
// or a UTF-8 library is called.
#include <string>
#include <string_view>

std::string toUtf8(std::u16string_view text);
// Invalid UTF-8 sequences become U+FFFD.
std::u16string fromUtf8(std::string_view text);
