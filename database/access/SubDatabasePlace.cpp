#include "database/access/SubDatabasePlace.h"

#include "database/access/FileNames.h"
#include "support/Env.h"
#include "support/FileOperations.h"

#include <utility>

namespace qx {

SubDatabaseLocation LocateSubDatabase(Env& env, const std::string& path, const std::string& mainPath) {
    const std::string folder = GetFolderPart(mainPath);
    const ArchivePath stored = env.ArchiveEntry(path, folder);
    const std::optional<FileId>& id = stored.id;
    if (!id) return {};
    const std::pair<std::string, const char*> own[] = {
        {mainPath, "main database"}, {OmdName(mainPath), "OCR database"}, {LogName(mainPath), "log"},
        {LockName(mainPath), "lock file"}, {IntentName(mainPath), "intent file"},
    };
    for (const auto& [file, what] : own)
        if (env.IdentityOf(file) == id) return {SubDatabasePlace::OwnFile, what};

    // What is written is the file the links lead to; it must lie in the
    // archive folder itself, whatever path led there.
    // A link is read through, never written through: what it leads to may
    // be moved or replaced behind the archive's back.
    if (stored.kind == EntryKind::Link) return {};
    std::error_code ec;
    const std::string resolved = env.Canonical(path, ec);
    if (ec) return {};
    const ArchivePath target = env.ArchiveEntry(resolved, folder);
    if (target.kind == EntryKind::RegularFile && target.inArchive) return {SubDatabasePlace::Archive};
    return {};
}

std::string NotRegularForWriting(Env& env, const std::string& path) {
    if (env.KindOf(path) == EntryKind::Link) return path;
    for (const char* side : {"-journal", "-wal", "-shm"})
        if (const EntryKind kind = env.KindOf(path + side); kind != EntryKind::None && kind != EntryKind::RegularFile)
            return path + side;
    return {};
}

bool IsPlainDataFile(Env& env, const std::string& path) {
    return env.KindOf(path) == EntryKind::RegularFile && env.FileLength(path) > 0 &&
           NotRegularForWriting(env, path).empty();
}

std::string ReadOnlyConnectString(const std::string& connectString) {
    // In front: a path or password that itself holds "Mode=" cannot undo it.
    return "Mode=Read;" + connectString;
}

std::string NamesOwnFileLine(long databaseId, const std::string& path, const SubDatabaseLocation& location) {
    return "Sub database " + std::to_string(databaseId) + ": '" + path + "' names the " + location.ownFile +
           " of this archive, not a sub database; it is not opened";
}

std::string NotRepairedOutsideLine(long id, const std::string& finding, const std::string& path) {
    return std::to_string(id) + " - " + finding + " not repaired: sub database '" + path +
           "' lies outside the archive folder";
}

}  // namespace qx
