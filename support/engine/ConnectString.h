#pragma once
// Connect strings of the forms the archive code builds:
//   "Provider=...;Data Source=<path>;Jet OLEDB:Database Password=<pwd>"
//   "Provider=...;Data Source=<path>;"
//   ";PWD=<pwd>"  (the short form used when probing a file's password)
// Values are taken verbatim, so a path or password may itself contain ";" or
// "=": a ";" only ends a value when a known keyword follows it. A value may
// also be quoted with '"' or "'" (a doubled quote stands for itself); Value()
// quotes whatever the verbatim reading could take apart, so that every text
// reads back exactly.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qx::engine {

struct ConnectString {
    std::vector<std::pair<std::string, std::string>> items;  // keyword as written, value

    static ConnectString Parse(std::string_view text);

    // `value` as it must be written after "keyword=" to read back unchanged:
    // wrapped in '"' (inner '"' doubled) when it holds ";" or "=", starts or
    // ends with white space, or starts with a quote; else as it is.
    static std::string Value(std::string_view value);

    // Fills each placeholder of `pattern` ("%DBNAME%") with its value, written
    // by Value(). One pass from left to right: an inserted value is never
    // searched for placeholders, so a folder named "%PWD%" stays a folder name.
    static std::string Fill(std::string_view pattern,
                            const std::vector<std::pair<std::string_view, std::string_view>>& values);

    // Case-insensitive keyword lookup; nullopt when absent.
    std::optional<std::string> get(std::string_view keyword) const;

    std::string dataSource() const;  // "Data Source" (or "DBQ"/"Database")
    std::string password() const;    // "Jet OLEDB:Database Password" or "PWD"
    // "Mode=Read", alone or with a sharing mode ("Read|Share Deny None"):
    // the file is to be opened for reading only.
    bool readOnly() const;
};

}  // namespace qx::engine
