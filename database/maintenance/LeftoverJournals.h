#pragma once
// Rollback journals a cut-off run left beside the sub databases of an
// archive. The engine plays such a journal back the first time it opens the
// file for writing; a file no one opens (a sub database about to be set
// aside, say) would keep its half-made change and the journal would be left
// behind for good, or be parted from its file by a rename.
#include <string>

namespace qx {

// Opens, through the engine and for writing, every sub database of the
// archive at `mainPath` that has a rollback journal beside it, so that the
// engine rolls its unfinished change back. A journal is never deleted here:
// one whose file is gone, or that is no regular file, stays and is logged.
// Returns how many journals were played back.
int RollBackLeftoverJournals(const std::string& mainPath, const std::string& password);

}  // namespace qx
