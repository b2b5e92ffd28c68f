#pragma once
// User-interface texts by number from the string library beside the program,
// and the filling of their placeholders.
#include "support/Variant.h"

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qx {

// Longest text taken from the string library, in characters.
inline constexpr std::size_t kMaxResStringChars = 1024;

// The text with that number from the string library, else `def`. The library
// is loaded and released on every call, so a library that appears, vanishes
// or is replaced while the program runs is picked up at once.
std::string GetResString(long id, std::string_view def);

// The folder the string library is loaded from; empty (the default) means
// the program's own folder.
void SetStringLibraryFolder(std::string folder);
// The full path GetResString loads the library from.
std::string StringLibraryPath();

// Fills a text's placeholders in one pass over `tmpl`: each "%s", "%S" or
// "%i" takes the next argument, each "%n" becomes CR LF. Arguments are
// inserted as they are, never scanned: a "%s" or "%n" inside a value (a
// stored name) stays literally, and a value that is itself a text with
// placeholders must be filled by its own call first. Surplus arguments are
// ignored; a placeholder without an argument stays ("%i" as "%s").
std::string FormatMsg(std::string_view tmpl, std::span<const Variant> args);
inline std::string FormatMsg(std::string_view tmpl, std::initializer_list<Variant> args = {}) {
    return FormatMsg(tmpl, std::span<const Variant>(args.begin(), args.size()));
}
inline std::string FormatMsg(std::string_view tmpl, const std::vector<Variant>& args) {
    return FormatMsg(tmpl, std::span<const Variant>(args));
}

}  // namespace qx
