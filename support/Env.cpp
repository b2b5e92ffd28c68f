// The changes every layer builds the same way from its primitives, so that
// each layer sees each primitive and each named point.
#include "support/Env.h"

#include "support/FileOperations.h"
#include "support/PowerLossEnv.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace qx {

// Path text helpers of support/FileOperations.cpp, kept out of its header
// because only the path functions need them.
std::size_t LastSeparator(std::string_view path);
std::string StripTrailingSeparators(std::string_view path);

namespace {

std::string FolderOf(const std::string& path) {
    std::string folder = GetFolderPart(path);
    return folder.empty() ? std::string(".") : folder;
}

}  // namespace

std::string ErrorText(int err) { return std::generic_category().message(err); }

int Env::RenameNoReplace(const std::string& from, const std::string& to, std::string_view point) {
    if (const int rc = Step(point)) return rc;
    if (const int rc = RenameEntry(from, to)) return rc;
    const std::string a = FolderOf(from), b = FolderOf(to);
    const std::string syncPoint = std::string(point) + ".sync-folder";
    int rc = SyncFolder(a, syncPoint);
    if (rc == 0 && !SameFile(a, b)) rc = SyncFolder(b, syncPoint);
    // Not durable means not done: the name goes back, so the caller's
    // picture (it failed) is the truth.
    if (rc != 0) RenameEntry(to, from);
    return rc;
}

int Env::CreateDurableFile(const std::string& path, std::string_view bytes, std::string_view point) {
    if (const int rc = Step(point)) return rc;
    if (const int rc = WriteNewEntry(path, bytes)) return rc;
    int rc = Step(std::string(point) + ".sync");
    if (rc == 0) rc = FlushFile(path);
    if (rc == 0) rc = SyncFolder(FolderOf(path), std::string(point) + ".sync-folder");
    // The caller is told it failed: nothing of it may stay.
    if (rc != 0) RemoveEntry(path);
    return rc;
}

int Env::RemoveDurably(const std::string& path, std::string_view point) {
    if (const int rc = Step(point)) return rc;
    if (const int rc = RemoveEntry(path)) return rc;
    return SyncFolder(FolderOf(path), std::string(point) + ".sync-folder");
}

int Env::SyncFile(const std::string& path, std::string_view point) {
    if (const int rc = Step(point)) return rc;
    return FlushFile(path);
}

int Env::SyncFolder(const std::string& folder, std::string_view point) {
    if (const int rc = Step(point)) return rc;
    return FlushFolder(folder);
}

int Env::SetReadOnly(const std::string& path, bool readOnly, std::string_view point) {
    if (!point.empty())
        if (const int rc = Step(point)) return rc;
    return ChangeReadOnly(path, readOnly);
}

bool Env::SameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    const auto x = IdentityOf(a);
    return x && x == IdentityOf(b);
}

ArchivePath Env::ArchiveEntry(const std::string& path, const std::string& archiveFolder) {
    ArchivePath entry;
    entry.path = path;
    entry.name = GetFileNamePart(path);
    entry.kind = KindOf(path);
    entry.id = IdentityOf(path);
    entry.inArchive = !entry.name.empty() && entry.name != "." && entry.name != ".." &&
                      SameFile(FolderOf(path), archiveFolder);
    return entry;
}

bool Env::EntryLiesIn(const std::string& path, const std::string& folder) {
    return ArchiveEntry(path, folder).inArchive;
}

std::string Env::UniqueFileName(const std::string& path) {
    // Anything at all under that name (file, folder, even a dangling link)
    // makes the name taken. An error other than "not found" counts as free:
    // the caller's create then fails on its own instead of this loop
    // running forever.
    const auto taken = [this](const std::string& p) { return KindOf(p) != EntryKind::None; };
    if (!taken(path)) return path;

    std::string base = StripTrailingSeparators(path);
    std::string ext;
    // The counter goes before the extension only when the last "." lies in
    // the file name; a "." in a folder name would move the new name into
    // another folder, so then the counter goes at the end.
    const std::size_t dot = base.rfind('.');
    const std::size_t sep = LastSeparator(base);
    if (dot != std::string::npos && (sep == std::string::npos || dot > sep)) {
        ext = base.substr(dot);  // kept in its own case: it matters on POSIX file systems
        base.resize(dot);
    }
    for (unsigned long long n = 1;; ++n) {
        char counter[32];
        std::snprintf(counter, sizeof counter, "_%03llu", n);
        std::string candidate = base + counter + ext;
        if (!taken(candidate)) return candidate;
    }
}

EnvStack MakeEnvStack(bool reportOnly) {
    EnvStack stack;
    stack.layers.push_back(NewFaultInjectionEnv(RealEnv()));
    if (Env* cut = ProcessPowerLossEnv()) stack.layers.push_back(std::make_unique<EnvWrapper>(*cut));
    if (reportOnly) stack.layers.push_back(NewReportOnlyEnv(*stack.layers.back()));
    return stack;
}

}  // namespace qx
