#pragma once
// Which files belong to the open archive, judged by what a path names on
// disk: files Quillex writes besides the archive (a saved list, JSON
// findings) must never land on one of them, whatever name the user gives.
#include "database/CDatabase.h"

#include <string>

namespace qx {

enum class ArchiveFileKind { None, Log, Other };

// What `path` names of the open archive, in words for the user ("de
// OCR-database", "subdatabase 3", ...); empty when it names none of its
// files. `kind`, when given, tells the log apart from the other files. A file counts when it is
// (links followed, hard links included) the main database, its OCR
// database, log, lock or intent record, a file named in DATABASES, or a
// file in the archive folder that carries a sub database name or a name one
// is set aside under, or that opens as a sub database of the archive. A name
// that does not exist yet counts when it would become one of these. Without
// an open archive nothing counts; when DATABASES cannot be read, everything
// does, since nothing can be ruled out.
std::string ArchiveFileRole(const CDatabase& database, const std::string& path, ArchiveFileKind* kind = nullptr);

inline bool IsArchiveOwnFile(const CDatabase& database, const std::string& path) {
    return !ArchiveFileRole(database, path).empty();
}

}  // namespace qx
