#pragma once
// Rollback journals a cut-off run left beside the files of an archive (main
// database, sub databases, backup files, OCR database). The engine plays such a journal back the first time it opens the
// file for writing; a file no one opens (a sub database about to be set
// aside, say) would keep its half-made change and the journal would be left
// behind for good, or be parted from its file by a rename.
#include <string>

namespace qx {

class Env;

// Opens, through the engine and for writing, every file of the archive at
// `mainPath` that has a rollback journal beside it, so that the engine rolls
// its unfinished change back, or retires a journal it does not take for one
// (never completed, so its file was never touched), or removes the journal of
// a file that is still empty (it can hold no page of it). Any other journal
// is never deleted: one whose file is gone, or that is no regular file, stays
// and is logged. Returns how many journals were resolved.
int RollBackLeftoverJournals(Env& env, const std::string& mainPath, const std::string& password);

}  // namespace qx
