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

// A stored date as a person reads it in our Dutch interface: "20010209" ->
// "9-2-2001", with the whole year (a two-digit year cannot tell 1901 from
// 2001), whatever the system's locale. Text that is not a real date is shown
// as it is stored, so nothing of it is hidden.
std::string ShowStoredDate(std::string_view s);

}  // namespace qx
