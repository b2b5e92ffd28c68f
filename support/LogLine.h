#pragma once
// Writing one line to a log file: the program's log and the string library's
// compacting entries both write through this, in the same form.
#include <string>
#include <string_view>

namespace qx {

class Env;

// Appends `utf8Line` as Windows-1252 text and CR LF to the regular file at
// `path` (created when absent) through `env`, never through a link and never
// into a pipe or device. "" when written, else why not.
std::string AppendLogLine(Env& env, const std::string& path, std::string_view utf8Line);

}  // namespace qx
