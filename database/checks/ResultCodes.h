#pragma once
// Codes of check findings. Bit 2048 marks a finding that was repaired; the
// codes 1, 2, 32 and 512 double as the status of opening a sub database.
#include <string>

namespace qx {

enum ResultCode : short {
    ResultPdbDamaged = 1,
    ResultPdbNotFound = 2,
    ResultBadLink = 8,
    // A row with data under a document's ID in a sub database the document is
    // not linked to: the document keeps its own row, this one belongs to none.
    ResultStrayDuplicate = 16,
    ResultPdbLinkError = 32,
    ResultDatabaseError = 64,
    ResultEmptyDocument = 128,
    ResultVirtualPathFixed = 256,
    ResultPdbOpenError = 512,
    ResultCorruptDocument = 1024,
    ResultFixedFlag = 2048,
    ResultDuplicateFixed = 2052,
    ResultBadLinkFixed = 2056,
    ResultLinkCreated = 2064,
    ResultEmptyFixed = 2176,
    ResultMultipageOrphanFixed = 2304,
    ResultCorruptFixed = 3072,
    ResultEmptyFolder = 5632,
    ResultDoubleByteFormat = 12800,
    ResultDoubleByteFormatFixed = 14848,
    // Found by the integrity pass: a page of the file does not read or the
    // engine's check finds its structure broken.
    ResultFileDamaged = 16384,
    // The damage lay only in indexes, which were rebuilt from their tables.
    ResultIndexRebuilt = 18432,
    // Tables of the file did not read; the rows that did were salvaged into
    // a fresh file that took its place (the damaged one is kept aside).
    ResultFileSalvaged = 22528,
    // A stored path names a sub database outside the archive folder: it is
    // read, never changed.
    ResultPdbOutsideArchive = 24576,
};

// A document moved to the root is repaired although its code lacks the bit:
// a second run finds nothing, so counting it as damage would be wrong.
inline bool IsRepaired(int code) { return (code & ResultFixedFlag) != 0 || code == ResultVirtualPathFixed; }

// The state text the list shows for a finding with this code; inMemory: a
// report-only run made the repair in memory only.
std::string FindingStateText(int code, bool inMemory = false);

// The code's name as written above ("ResultBadLink"); "" for an unknown code.
const char* ResultCodeName(int code);

}  // namespace qx
