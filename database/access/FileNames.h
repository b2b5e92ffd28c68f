#pragma once
// The names of the files that belong to a main database, derived from its
// full path as the main connection reports it. Only a "." inside the file
// name starts an extension; a "." in a folder name is part of the folder.
#include <string>
#include <string_view>

namespace qx {

class Env;

// Sub database number n: "<main without extension>_<n>.pdb" in the same
// folder ("/a/Kantoor.2008.dat", 5 -> "/a/Kantoor.2008_5.pdb").
std::string SubDatabaseName(std::string_view mainPath, long n);

// The OCR database: the main path with its last three characters replaced by
// "omd", which for the product's "xxx.dat" is the same as replacing the
// extension. A main file name without a three-letter extension gets ".omd"
// in place of its extension, or appended when it has none, so that the name
// never eats into the file name or a folder.
std::string OmdName(std::string_view mainPath);

// The log beside the main database: its extension replaced by ".log".
std::string LogName(std::string_view mainPath);

// The lock file held by the one Quillex that may change the archive, and the
// intent record of a change to several files that is under way
// ("/a/Kantoor.dat" -> "/a/Kantoor.lock", "/a/Kantoor.intent").
std::string LockName(std::string_view mainPath);
std::string IntentName(std::string_view mainPath);

// The names under which a file is set aside. Each is path + ".deleted" (or
// ".obsolete") when nothing of that name exists, else the first free name
// with "_001", "_002", ... put before that last extension
// ("x.pdb_001.deleted"). "Free" means no file, folder or link of that name.
std::string DeletedName(Env& env, std::string_view path);
std::string ObsoleteName(Env& env, std::string_view path);

}  // namespace qx
