#include "support/DurableFiles.h"

#include "support/ProcessEnv.h"

namespace qx {

int RenameNoReplace(const std::string& from, const std::string& to, std::string_view point) {
    return ProcessEnv().RenameNoReplace(from, to, point);
}
int CreateDurableFile(const std::string& path, std::string_view bytes, std::string_view point) {
    return ProcessEnv().CreateDurableFile(path, bytes, point);
}
int RemoveDurably(const std::string& path, std::string_view point) { return ProcessEnv().RemoveDurably(path, point); }
int SyncFile(const std::string& path, std::string_view point) { return ProcessEnv().SyncFile(path, point); }
int SyncFolder(const std::string& folder, std::string_view point) { return ProcessEnv().SyncFolder(folder, point); }
std::optional<FileId> IdentityOf(std::string_view path) { return ProcessEnv().IdentityOf(std::string(path)); }
bool SameFile(std::string_view a, std::string_view b) { return ProcessEnv().SameFile(std::string(a), std::string(b)); }
EntryKind KindOf(std::string_view path) { return ProcessEnv().KindOf(std::string(path)); }
bool EntryLiesIn(std::string_view path, std::string_view folder) {
    return ProcessEnv().EntryLiesIn(std::string(path), std::string(folder));
}

}  // namespace qx
