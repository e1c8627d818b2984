#pragma once
// Small text routines shared by every window.

#include <string>
#include <string_view>

// Only the space character counts as blank; tabs stay.
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
std::string TrimBoth(std::string_view s);

// ASCII letters in lower case; other bytes unchanged.
std::string LowerAscii(std::string_view s);

// Fax class numbers as the settings and windows hold them.
enum class TFaxClassNumber : int { AutoDetect = 0, Class1 = 1, Class2 = 2, Class2_0 = 3 };

// "AutoDetect", "Class 1", "Class 2", "Class 2.0", or "unknown".
std::string FaxClassName(int faxClassNumber);
