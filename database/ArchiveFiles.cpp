#include "database/ArchiveFiles.h"
#include "database/checks/CheckProgressRecord.h"

#include "database/access/FileNames.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/engine/Recordset.h"

#include <optional>
#include <string_view>
#include <vector>

namespace qx {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Names are compared without regard to ASCII case: on a medium that ignores
// case "KANTOOR_1.PDB" is the sub database itself.
bool TakePrefix(std::string_view& text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != Lower(prefix[i])) return false;
    text.remove_prefix(prefix.size());
    return true;
}

bool SameName(std::string_view a, std::string_view b) { return a.size() == b.size() && TakePrefix(a, b); }

bool TakeDigits(std::string_view& text) {
    std::size_t n = 0;
    while (n < text.size() && text[n] >= '0' && text[n] <= '9') ++n;
    text.remove_prefix(n);
    return n > 0;
}

// The files SQLite keeps beside a database while it writes; text written
// under such a name could be taken for a half-finished change.
struct Companion {
    std::string_view suffix;
};
constexpr Companion kCompanions[] = {{"-journal"}, {"-wal"}, {"-shm"}};

std::string_view WithoutCompanion(std::string_view name) {
    for (const Companion& c : kCompanions)
        if (name.size() > c.suffix.size() && SameName(name.substr(name.size() - c.suffix.size()), c.suffix))
            return name.substr(0, name.size() - c.suffix.size());
    return name;
}

// "<stem>_<n>.pdb", and the names it is set aside under: any run of
// ".obsolete", ".deleted", ".compacted" and "_<counter>" after it.
bool IsSubDatabaseName(std::string_view name, std::string_view stem) {
    name = WithoutCompanion(name);
    if (!TakePrefix(name, stem) || !TakePrefix(name, "_") || !TakeDigits(name) || !TakePrefix(name, ".pdb"))
        return false;
    while (!name.empty())
        if (!(TakePrefix(name, "_") ? TakeDigits(name)
                                    : TakePrefix(name, ".obsolete") || TakePrefix(name, ".deleted") ||
                                          TakePrefix(name, ".compacted")))
            return false;
    return true;
}

std::string FileName(std::string_view path) { return PathToUtf8(PathFromUtf8(path).filename()); }

// Where a chain of links ends (the path itself when it is no link), so that
// a link to a name that does not exist yet is judged by that name: writing
// through it would create the file there.
std::string LinkTarget(Env& env, std::string path) {
    for (int hops = 0; hops < 40 && env.KindOf(path) == EntryKind::Link; ++hops) {
        std::error_code ec;
        std::string target = env.LinkTarget(path, ec);
        if (ec) break;
        if (const std::string folder = GetFolderPart(path); !PathFromUtf8(target).is_absolute() && !folder.empty())
            target = folder + PathSeparator() + target;
        path = std::move(target);
    }
    return path;
}

struct OwnFile {
    std::string path, role;
    ArchiveFileKind kind = ArchiveFileKind::Other;
};

bool OpensAsSubDatabase(Env& env, const std::string& path) {
    if (env.KindOf(LinkTarget(env, path)) != EntryKind::RegularFile) return false;
    engine::Connection cn(env);
    if (!cn.open(CDatabase::ConnectString(path, Settings::Get().DatabasePassword))) return false;
    engine::Recordset probe;
    return probe.open("SELECT ID FROM PICTURES WHERE ID = NULL", cn, engine::CursorMode::Lookup);
}

std::string RoleOf(const CDatabase& database, const std::string& path, ArchiveFileKind& kind) {
    Env& env = database.env();
    const std::string mainPath = database.MainDatabaseName();
    if (mainPath.empty() || path.empty() || !CDatabase::Connected(database.m_AdoCnMain)) return {};
    const std::string folder = GetFolderPart(mainPath);
    const std::string sub0 = FileName(SubDatabaseName(mainPath, 0));
    const std::string stem = sub0.substr(0, sub0.size() - std::string_view("_0.pdb").size());

    const auto known = [&kind](const OwnFile& f) {
        kind = f.kind;
        return f.role;
    };
    // The roles are read by the user, in the window and on the terminal.
    std::vector<OwnFile> own = {{mainPath, GetResString(577, "de hoofddatabase")},
                                {OmdName(mainPath), GetResString(578, "de OCR-database")},
                                {LogName(mainPath), GetResString(579, "het logboek"), ArchiveFileKind::Log},
                                {LockName(mainPath), GetResString(580, "het vergrendelingsbestand")},
                                {IntentName(mainPath), GetResString(581, "het bestand van de lopende wijziging")}};
    for (const std::string& record : CheckProgressNames(mainPath))
        own.push_back({record, GetResString(330, "het voortgangsbestand van de controle")});
    for (std::size_t i = 0, n = own.size(); i < n; ++i)
        for (const Companion& c : kCompanions)
            own.push_back({own[i].path + std::string(c.suffix),
                           FormatMsg(GetResString(582, "het hulpbestand '%s' van %s"), {c.suffix, own[i].role})});

    // The names themselves: what the path names, and where a link in it
    // leads, may not exist yet and would be created by writing.
    const std::string target = LinkTarget(env, path);
    const ArchivePath named = env.ArchiveEntry(path, folder);
    for (const ArchivePath& entry : {named, env.ArchiveEntry(target, folder)}) {
        if (!entry.inArchive) continue;
        const std::string& name = entry.name;
        for (const OwnFile& f : own)
            if (SameName(name, FileName(f.path))) return known(f);
        if (IsSubDatabaseName(name, stem)) return FormatMsg(GetResString(583, "de subdatabasenaam %s"), {name});
    }

    const std::optional<FileId>& id = named.id;
    if (id)
        for (const OwnFile& f : own)
            if (env.IdentityOf(f.path) == id) return known(f);

    // Every file the sub-database table names, wherever it lies. A table
    // that cannot be read rules nothing out.
    {
        sql::Statement rows(database.m_AdoCnMain->database(), "SELECT ID, DATABASE FROM DATABASES");
        const auto unreadable = [&] {
            return FormatMsg(GetResString(586, "niets is uit te sluiten, de lijst met subdatabases kon niet worden "
                                               "gelezen (%s)"),
                             {rows.error().message});
        };
        if (!rows.ok()) return unreadable();
        for (;;) {
            const sql::Step step = rows.step();
            if (step == sql::Step::Done) break;
            if (step == sql::Step::Failed) return unreadable();
            if (rows.isNull(1)) continue;
            const std::string stored = rows.getText(1);
            const std::string role = FormatMsg(GetResString(584, "subdatabase %s"), {std::to_string(rows.getInt64(0))});
            if (id && env.IdentityOf(stored) == id) return role;
            const std::string storedPath = env.Absolute(stored);
            if (storedPath == env.Absolute(path) || storedPath == env.Absolute(target)) return role;
        }
    }

    // Any other name in the archive folder for the same file, and files
    // there that open as sub databases of this archive (backups, copies).
    if (!id) return {};
    std::error_code ec;
    for (const std::string& entryName : env.ListFolder(folder, ec)) {
        const std::string entry = folder + PathSeparator() + entryName;
        if (env.IdentityOf(entry) != id) continue;
        const std::string name = FileName(entry);
        for (const OwnFile& f : own)
            if (SameName(name, FileName(f.path))) return known(f);
        if (IsSubDatabaseName(name, stem)) return FormatMsg(GetResString(583, "de subdatabasenaam %s"), {name});
        if (OpensAsSubDatabase(env, entry))
            return FormatMsg(GetResString(585, "de kopie van een subdatabase %s"), {name});
    }
    return {};
}

}  // namespace

std::string ArchiveFileRole(const CDatabase& database, const std::string& path, ArchiveFileKind* kind) {
    ArchiveFileKind ignored;
    ArchiveFileKind& found = kind ? *kind : ignored;
    found = ArchiveFileKind::None;
    const std::string role = RoleOf(database, path, found);
    if (!role.empty() && found == ArchiveFileKind::None) found = ArchiveFileKind::Other;
    return role;
}

}  // namespace qx
