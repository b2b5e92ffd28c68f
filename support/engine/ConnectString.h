#pragma once
// Connect strings of the forms the archive code builds:
//   "Provider=...;Data Source=<path>;Jet OLEDB:Database Password=<pwd>"
//   "Provider=...;Data Source=<path>;"
//   ";PWD=<pwd>"  (the short form used when probing a file's password)
// Values are taken verbatim, so a path or password may itself contain ";" or
// "=": a ";" only ends a value when a known keyword follows it. A value may
// also be quoted with '"' or "'" (a doubled quote stands for itself).
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qx::engine {

struct ConnectString {
    std::vector<std::pair<std::string, std::string>> items;  // keyword as written, value

    static ConnectString Parse(std::string_view text);

    // Case-insensitive keyword lookup; nullopt when absent.
    std::optional<std::string> get(std::string_view keyword) const;

    std::string dataSource() const;  // "Data Source" (or "DBQ"/"Database")
    std::string password() const;    // "Jet OLEDB:Database Password" or "PWD"
    // "Mode=Read", alone or with a sharing mode ("Read|Share Deny None"):
    // the file is to be opened for reading only.
    bool readOnly() const;
};

}  // namespace qx::engine
