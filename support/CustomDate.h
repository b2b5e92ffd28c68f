#pragma once
// Stored dates ("yyyymmdd") shown in the order the user's locale uses.
#include <string>
#include <string_view>

namespace qx {

// The 8-character display pattern for a Qt short date format: "dd", "mm" and
// "yy" at positions 1, 4 and 7 in the order in which "d", "M" and "y" first
// occur, separated by the format's separator when that is a single character,
// else by "/". "mm/dd/yy" when one of the three letters is missing.
std::string BuildDatePattern(std::string_view shortFormat);

// The pattern for the system locale, built on first use and kept for the run.
const std::string& DatePattern();

// "20240315" -> e.g. "15-03-24" with the pattern "dd-mm-yy".
std::string FormatStoredDate(std::string_view s);
std::string FormatStoredDate(std::string_view s, std::string_view pattern);

}  // namespace qx
