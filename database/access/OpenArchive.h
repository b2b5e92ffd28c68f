#pragma once
// Opening a chosen main database: its generation is found by trying the
// known passwords, outdated and unknown files are refused, and an accepted
// one is connected, logged and its sub-database list brought in order.
// Shared by the window (after its open dialog) and the command line.
#include "database/CDatabase.h"

#include <string>

namespace qx {

// The generation of a main database file, found by its password: 8 and 7
// are accepted, 6, 5 and 4 are outdated, 0 is no known format. sPassword
// receives the password that opened it (unchanged for 0). Clears the file's
// read-only attribute first, as opening will need it writable, and puts it
// back when the answer is 0; *pbWasReadOnly tells whether it was set, so
// that a caller refusing the file for another reason can put it back too.
// Why no password opened the file, when the file itself was never judged:
// it is locked by another program, may not be read, could not be read, or
// is not there at all.
enum class ProbeProblem { None, InUse, NoPermission, Unreadable, Missing };

int GetDatabaseVersion(Env& env, const std::string& sDatabaseName, std::string& sPassword, bool* pbWasReadOnly = nullptr,
                       ProbeProblem* pProblem = nullptr);

// Why a changing run cannot work on this archive: the main database or its
// folder may not be written (no permission, a read-only file system, an
// immutable file). `path` is the entry that refuses, `error` its errno
// value; error 0 when nothing refuses. A main database whose read-only
// attribute the user may clear does not refuse: opening clears it.
struct WriteBlock {
    std::string path;
    int error = 0;
};
WriteBlock ArchiveWriteBlock(Env& env, const std::string& sDatabase);

// AccessError: the archive folder could not be listed for its sub
// databases (a path or file access error); the user has been told and the
// program must end.
enum class OpenOutcome { Opened, Outdated, UnknownFormat, NotConnected, InUse, AccessError };

// Everything after the file is known: probing, connecting, the log, the
// sub-database list, the window's state, title, menus and status bar.
OpenOutcome OpenDatabaseFile(CDatabase& database, const std::string& sDatabase);

}  // namespace qx
