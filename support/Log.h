#pragma once
// The log beside the open database: English lines, appended one at a time.
#include <functional>
#include <string>
#include <string_view>

namespace qx {

// Appends `line` and CR LF to Settings::Get().LogFileName, opening and closing
// the file for this one line. Does nothing while the name is empty. Only a
// regular file is written, never through a link; when the log cannot be
// used the line is lost, the problem is told once per log path to the
// problem handler, and the work goes on.
void WriteLog(std::string_view line);

// Receives one English line per log that cannot be used (the default prints
// it on stderr). Returns the handler it replaces.
using LogProblemHandler = std::function<void(const std::string&)>;
LogProblemHandler SetLogProblemHandler(LogProblemHandler handler);

// The log file of a main database: the path with the extension of its file
// name replaced by ".log" ("/data/Data.dat" -> "/data/Data.log"), or with
// ".log" appended when the file name has no ".".
std::string LogFileNameFor(std::string_view mainDatabasePath);

// The log is 8-bit Windows-1252 text, as the other tools that read it expect.
// Characters without a Windows-1252 byte and invalid UTF-8 bytes become "?".
std::string Utf8ToCp1252(std::string_view utf8);
std::string Cp1252ToUtf8(std::string_view cp1252);
// One character's Windows-1252 byte; '?' when it has none.
char CodePointToCp1252(char32_t cp);

}  // namespace qx
