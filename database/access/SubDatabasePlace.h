#pragma once
// Where the file that a stored sub-database path names really lies, seen
// from the main database. A stored path may point anywhere: the rows of a
// copied archive still name the files it was copied from; a row may name the
// main database itself or a file that is no database at all. Judged by file
// identity, never by the text of the path; asked when a sub database is
// (re)opened, not for every document.
#include <string>

namespace qx {

class Env;

enum class SubDatabasePlace {
    Archive,  // a regular file of the archive folder (links followed): it may be repaired
    Outside,  // anywhere else: it is read, never changed
    OwnFile,  // the main database or one of its own files: no sub database at all
};

struct SubDatabaseLocation {
    SubDatabasePlace place = SubDatabasePlace::Outside;
    const char* ownFile = "";  // for OwnFile: "main database", "OCR database", "log", ...
};

SubDatabaseLocation LocateSubDatabase(Env& env, const std::string& path, const std::string& mainPath);

// What keeps a file of the archive from being opened for writing, judged by
// the entries themselves (never following a link): the file when it is a
// link, else the first of the engine's side files ("-journal", "-wal",
// "-shm") that is there and no regular file. Empty when nothing does.
std::string NotRegularForWriting(Env& env, const std::string& path);

// A file that may be written as a data file of the archive: a regular,
// non-empty file under its own name whose side files are regular files too.
bool IsPlainDataFile(Env& env, const std::string& path);

// The same connect string, with the engine told to open the file for
// reading only.
std::string ReadOnlyConnectString(const std::string& connectString);

// "Sub database 3: '<path>' names the main database of this archive, ..."
std::string NamesOwnFileLine(long databaseId, const std::string& path, const SubDatabaseLocation& location);
// "<id> - <finding> not repaired: sub database '<path>' lies outside the archive folder"
std::string NotRepairedOutsideLine(long id, const std::string& finding, const std::string& path);

}  // namespace qx
