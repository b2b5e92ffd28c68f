#pragma once
// The storage format of an imported document's stored bytes: stored as is,
// widened to 16-bit characters (type 1), or filling only the first half of a
// buffer twice its size (type 2); the repair of both; and the command-line
// switch that makes the detection log correct documents too.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qx {

enum StorageType : short { StorageCorrect = 0, StorageDoubleByte = 1, StorageUpperHalfZero = 2 };

// -2 when the data has fewer than nMinSize + 1 bytes; 1 for "%PDF" at the
// start, 2 for "%PDF" at the even positions 0, 2, 4, 6 (a widened PDF);
// 0 otherwise.
short PdfSignatureType(std::span<const std::uint8_t> data, long nMinSize);

// Classifies the bytes and logs what it found.
short DetectConversionError(std::span<const std::uint8_t> data);

// The repaired bytes of data stored in `type`, in `fixed`. Type 1 maps each
// 16-bit character back to its Windows-1252 byte (the code page the
// documents were widened with; characters without one become "?") and
// leaves `correctedSize` the number of characters converted; the result
// ends with one 0 byte after them. `pump` runs after every 16384 bytes read.
bool FixConversionError(short type, std::span<const std::uint8_t> data, std::vector<std::uint8_t>& fixed,
                        long& correctedSize, const std::function<void()>& pump = {});

// The arguments of a command line: single quotes enclose one argument,
// blanks separate them, a blank right after "-" is skipped; at most
// `maximum` arguments.
std::vector<std::string> SplitCommandLine(std::string_view line, int maximum = 4);

// True when one of the program's first five arguments, lower-cased, is "-"
// followed by sName lower-cased.
bool HasCommandLineSwitch(const std::string& sName);

}  // namespace qx
