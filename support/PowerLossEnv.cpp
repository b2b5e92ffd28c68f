#include "support/PowerLossEnv.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace qx {

namespace {

namespace fs = std::filesystem;

// The granularity of saved old bytes; a power cut loses whole pages.
constexpr std::int64_t kBlock = 4096;

// One name per file whatever way it is spelled: the folder resolved (the
// engine hands over its own full path, the core the archive's), the file's
// own name kept, since it may be about to appear or go.
std::string Key(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::absolute(fs::path(path), ec).lexically_normal();
    const fs::path folder = fs::canonical(p.parent_path(), ec);
    return ec ? p.string() : (folder / p.filename()).string();
}

std::string FolderOf(const std::string& key) { return fs::path(key).parent_path().string(); }

std::string FolderKey(const std::string& folder) {
    std::error_code ec;
    const fs::path p = fs::canonical(fs::absolute(fs::path(folder), ec), ec);
    return ec ? fs::absolute(fs::path(folder)).lexically_normal().string() : p.string();
}

std::int64_t SizeOnDisk(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

bool OnDisk(const std::string& path) { return SizeOnDisk(path) >= 0; }

std::string ReadAt(const std::string& path, std::int64_t offset, std::int64_t bytes) {
    std::string out;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    out.resize(static_cast<size_t>(bytes));
    std::int64_t got = 0;
    while (got < bytes) {
        const ssize_t n = ::pread(fd, out.data() + got, static_cast<size_t>(bytes - got), offset + got);
        if (n <= 0) break;
        got += n;
    }
    out.resize(static_cast<size_t>(got));
    ::close(fd);
    return out;
}

void WriteAt(const std::string& path, std::int64_t offset, const std::string& bytes, int extraFlags = 0) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | extraFlags, 0644);
    if (fd < 0) return;
    std::int64_t put = 0;
    while (put < static_cast<std::int64_t>(bytes.size())) {
        const ssize_t n = ::pwrite(fd, bytes.data() + put, bytes.size() - static_cast<size_t>(put), offset + put);
        if (n <= 0) break;
        put += n;
    }
    ::close(fd);
}

bool IsEngineJournal(const std::string& key) {
    for (const char* tail : {"-journal", "-wal"})
        if (key.size() > std::strlen(tail) && key.ends_with(tail)) return true;
    return key.find("-mj") != std::string::npos;
}

[[noreturn]] void KillNow() {
    ::kill(::getpid(), SIGKILL);
    std::abort();
}

}  // namespace

std::optional<PowerLossEnv::Settings> PowerLossEnv::FromEnvironment() {
    const char* cut = std::getenv("QUILLEX_POWERCUT");
    const char* trace = std::getenv("QUILLEX_POWERCUT_TRACE");
    if (!cut && !trace) return std::nullopt;
    Settings s;
    if (cut) {
        char* end = nullptr;
        s.cutAt = std::strtol(cut, &end, 10);
        // A misspelt setting must not pass for a run that was never cut.
        if (!*cut || *end || s.cutAt < 1) {
            std::fprintf(stderr, "QUILLEX_POWERCUT: cannot read '%s'\n", cut);
            s.cutAt = 0;
        }
    }
    if (trace) s.trace = trace;
    if (const char* tear = std::getenv("QUILLEX_POWERCUT_TEAR")) s.tear = std::strcmp(tear, "1") == 0;
    if (const char* ignore = std::getenv("QUILLEX_POWERCUT_IGNORE_SYNC")) s.ignoreSync = ignore;
    return s;
}

PowerLossEnv::PowerLossEnv(Env& target, Settings settings) : EnvWrapper(target), m_settings(std::move(settings)) {}

PowerLossEnv::~PowerLossEnv() {
    for (NameEvent& e : m_events) Forget(e);
    for (const std::string& folder : m_holdFolders) ::rmdir(folder.c_str());
}

void PowerLossEnv::Forget(NameEvent& e) {
    if (!e.held.empty()) ::unlink(e.held.c_str());
    e.held.clear();
}

// A removal keeps the file under a second name beside the archive's folder
// (the same volume), so that a cut brings back the very file, identity and
// all, as a real power cut does.
void PowerLossEnv::Removed(const std::string& key) {
    NameEvent e{NameChange::Remove, key, {}, {FolderOf(key)}, {}, std::nullopt, nullptr};
    const std::string hold =
        (fs::path(FolderOf(key)).parent_path() / (".quillex-powercut-" + std::to_string(::getpid()))).string();
    if (::mkdir(hold.c_str(), 0700) == 0 || errno == EEXIST) {
        if (std::find(m_holdFolders.begin(), m_holdFolders.end(), hold) == m_holdFolders.end())
            m_holdFolders.push_back(hold);
        const std::string held = hold + "/" + std::to_string(++m_held);
        if (::link(key.c_str(), held.c_str()) == 0) e.held = held;
    }
    if (e.held.empty()) {
        e.content = std::make_shared<const std::string>(DurableContent(key));
    } else if (auto it = m_files.find(key); it != m_files.end()) {
        e.state = it->second;
    }
    m_files.erase(key);
    m_folderSyncOnFirstSync.erase(key);
    if (m_lastWrite && m_lastWrite->path == key) m_lastWrite.reset();
    m_events.push_back(std::move(e));
}

long PowerLossEnv::CutPoints() const {
    std::lock_guard hold(m_mutex);
    return m_passed;
}

void PowerLossEnv::CutPoint(const std::string& line) {
    ++m_passed;
    if (!m_settings.trace.empty())
        if (std::FILE* f = std::fopen(m_settings.trace.c_str(), "ab")) {
            std::fprintf(f, "%s\n", line.c_str());
            std::fclose(f);
        }
    if (m_settings.cutAt == m_passed) PowerCut();
}

bool PowerLossEnv::Ignored(bool engine) const {
    const std::string& p = m_settings.ignoreSync;
    if (p.empty()) return false;
    if (p == "engine") return engine;
    return m_lastStep == p || (m_lastStep.size() > p.size() && m_lastStep.starts_with(p) && m_lastStep[p.size()] == '.');
}

// The engine deletes a committed journal and syncs its folder in one call;
// the layer hears of it before, and counts the folder synced once the name
// is really gone.
void PowerLossEnv::SettleEngineDelete() {
    if (!m_deletedWithFolderSync) return;
    if (!OnDisk(*m_deletedWithFolderSync)) FolderSynced(FolderOf(*m_deletedWithFolderSync));
    m_deletedWithFolderSync.reset();
}

PowerLossEnv::FileState& PowerLossEnv::State(const std::string& key) {
    auto it = m_files.find(key);
    if (it != m_files.end()) return it->second;
    FileState s;
    s.syncedSize = std::max<std::int64_t>(SizeOnDisk(key), 0);
    return m_files.emplace(key, std::move(s)).first->second;
}

// Old bytes are saved before their first unsynced change, read from the
// disk, which still holds the durable bytes there.
void PowerLossEnv::SaveRange(const std::string& key, std::int64_t from, std::int64_t to) {
    FileState& s = State(key);
    to = std::min(to, s.syncedSize);
    for (std::int64_t b = std::max<std::int64_t>(from, 0) / kBlock; b * kBlock < to; ++b) {
        if (s.saved.count(b)) continue;
        const std::int64_t start = b * kBlock, end = std::min(start + kBlock, s.syncedSize);
        s.saved.emplace(b, ReadAt(key, start, end - start));
    }
}

std::string PowerLossEnv::DurableContent(const std::string& key) {
    const std::int64_t size = SizeOnDisk(key);
    std::string data = ReadAt(key, 0, std::max<std::int64_t>(size, 0));
    const auto it = m_files.find(key);
    if (it == m_files.end()) return data;
    for (const auto& [block, bytes] : it->second.saved) {
        const size_t at = static_cast<size_t>(block * kBlock);
        if (data.size() < at + bytes.size()) data.resize(at + bytes.size());
        std::memcpy(data.data() + at, bytes.data(), bytes.size());
    }
    data.resize(static_cast<size_t>(it->second.syncedSize));
    return data;
}

void PowerLossEnv::Created(const std::string& key) {
    m_files[key] = FileState{};
    m_events.push_back({NameChange::Create, key, {}, {FolderOf(key)}, {}, std::nullopt, nullptr});
}

void PowerLossEnv::FolderSynced(const std::string& folder) {
    for (NameEvent& e : m_events) {
        e.folders.erase(std::remove(e.folders.begin(), e.folders.end(), folder), e.folders.end());
        if (e.folders.empty()) Forget(e);
    }
    m_events.erase(std::remove_if(m_events.begin(), m_events.end(), [](const NameEvent& e) { return e.folders.empty(); }),
                   m_events.end());
}

void PowerLossEnv::Revert() {
    // The torn page: the first half of the last unsynced write reached the
    // platter, sector by sector, the rest did not.
    std::string torn;
    if (m_settings.tear && m_lastWrite && m_files.count(m_lastWrite->path)) {
        const std::string now = ReadAt(m_lastWrite->path, m_lastWrite->offset, m_lastWrite->bytes);
        std::int64_t keep = static_cast<std::int64_t>(now.size()) / 2;
        if (keep >= 512) keep -= keep % 512;
        torn = now.substr(0, static_cast<size_t>(keep));
    }
    for (const auto& [key, s] : m_files) RevertData(key, s);
    if (!torn.empty() && OnDisk(m_lastWrite->path)) WriteAt(m_lastWrite->path, m_lastWrite->offset, torn);
    for (auto e = m_events.rbegin(); e != m_events.rend(); ++e) {
        switch (e->change) {
        case NameChange::Create: ::unlink(e->path.c_str()); break;
        case NameChange::Rename:
            // Never over a name that came back meanwhile: that would be a
            // state no power cut leaves.
            if (!OnDisk(e->path)) ::rename(e->to.c_str(), e->path.c_str());
            break;
        case NameChange::Remove:
            if (!e->held.empty()) {
                if (!OnDisk(e->path) && ::rename(e->held.c_str(), e->path.c_str()) == 0) {
                    e->held.clear();
                    if (e->state) RevertData(e->path, *e->state);
                }
            } else if (e->content) {
                WriteAt(e->path, 0, *e->content, O_CREAT | O_EXCL);
            }
            break;
        }
    }
    for (NameEvent& e : m_events) Forget(e);
    for (const std::string& folder : m_holdFolders) ::rmdir(folder.c_str());
    m_holdFolders.clear();
    m_files.clear();
    m_events.clear();
    m_folderSyncOnFirstSync.clear();
    m_deletedWithFolderSync.reset();
    m_lastWrite.reset();
}

void PowerLossEnv::RevertData(const std::string& key, const FileState& s) {
    if (!OnDisk(key)) return;
    for (const auto& [block, bytes] : s.saved) WriteAt(key, block * kBlock, bytes);
    if (::truncate(key.c_str(), s.syncedSize) != 0) std::fprintf(stderr, "power cut: cannot truncate %s\n", key.c_str());
}

void PowerLossEnv::PowerCut() {
    std::lock_guard hold(m_mutex);
    SettleEngineDelete();
    Revert();
    if (m_settings.kill) KillNow();
}

void PowerLossEnv::Exit() {
    std::lock_guard hold(m_mutex);
    SettleEngineDelete();
    CutPoint("exit");
}

int PowerLossEnv::Step(std::string_view point) {
    {
        std::lock_guard hold(m_mutex);
        SettleEngineDelete();
        m_lastStep = std::string(point);
        CutPoint(m_lastStep);
    }
    return EnvWrapper::Step(point);
}

int PowerLossEnv::RenameEntry(const std::string& from, const std::string& to) {
    std::lock_guard hold(m_mutex);
    SettleEngineDelete();
    const std::string a = Key(from), b = Key(to);
    const int rc = EnvWrapper::RenameEntry(from, to);
    if (rc != 0) return rc;
    if (auto it = m_files.find(a); it != m_files.end()) {
        m_files[b] = std::move(it->second);
        m_files.erase(a);
    }
    if (auto it = m_folderSyncOnFirstSync.find(a); it != m_folderSyncOnFirstSync.end()) {
        m_folderSyncOnFirstSync.erase(it);
        m_folderSyncOnFirstSync[b] = true;
    }
    if (m_lastWrite && m_lastWrite->path == a) m_lastWrite->path = b;
    std::vector<std::string> folders{FolderOf(a)};
    if (FolderOf(b) != folders.front()) folders.push_back(FolderOf(b));
    m_events.push_back({NameChange::Rename, a, b, std::move(folders), {}, std::nullopt, nullptr});
    return 0;
}

int PowerLossEnv::CreateThrough(const std::string& path, std::int64_t size, const std::function<int()>& make) {
    std::lock_guard hold(m_mutex);
    SettleEngineDelete();
    const int rc = make();
    if (rc != 0) return rc;
    const std::string key = Key(path);
    Created(key);
    m_lastWrite = LastWrite{key, 0, size};
    return 0;
}

int PowerLossEnv::WriteNewEntry(const std::string& path, std::string_view bytes) {
    return CreateThrough(path, static_cast<std::int64_t>(bytes.size()),
                         [&] { return EnvWrapper::WriteNewEntry(path, bytes); });
}

int PowerLossEnv::WriteNewFile(const std::string& path, std::string_view bytes) {
    return CreateThrough(path, static_cast<std::int64_t>(bytes.size()),
                         [&] { return EnvWrapper::WriteNewFile(path, bytes); });
}

int PowerLossEnv::AppendToFile(const std::string& path, std::string_view bytes) {
    std::lock_guard hold(m_mutex);
    SettleEngineDelete();
    const std::string key = Key(path);
    const std::int64_t before = SizeOnDisk(key);
    if (before >= 0) State(key);
    const int rc = EnvWrapper::AppendToFile(path, bytes);
    if (rc != 0) return rc;
    if (before < 0) Created(key);
    m_lastWrite = LastWrite{key, std::max<std::int64_t>(before, 0), static_cast<std::int64_t>(bytes.size())};
    return 0;
}

int PowerLossEnv::RemoveEntry(const std::string& path) {
    std::lock_guard hold(m_mutex);
    SettleEngineDelete();
    const std::string key = Key(path);
    const bool there = OnDisk(key);
    if (there) Removed(key);
    const int rc = EnvWrapper::RemoveEntry(path);
    if (rc != 0 && there) {
        // Still there: the removal is no event, and what was known of the
        // file's unsynced bytes holds again.
        NameEvent e = std::move(m_events.back());
        m_events.pop_back();
        Forget(e);
        if (e.state) m_files[key] = *e.state;
    }
    return rc;
}

int PowerLossEnv::FlushFile(const std::string& path) {
    std::lock_guard hold(m_mutex);
    SettleEngineDelete();
    const int rc = EnvWrapper::FlushFile(path);
    const std::string key = Key(path);
    if (rc == 0 && Ignored(false)) {
        // A file written behind the layer's back (a copy made by another
        // writer) is taken as wholly unsynced: the sync that is not done
        // was to make all of it durable.
        if (!m_files.count(key)) m_files[key] = FileState{};
        return 0;
    }
    if (rc != 0) return rc;
    m_files.erase(key);
    if (m_lastWrite && m_lastWrite->path == key) m_lastWrite.reset();
    return 0;
}

int PowerLossEnv::FlushFolder(const std::string& folder) {
    std::lock_guard hold(m_mutex);
    SettleEngineDelete();
    const int rc = EnvWrapper::FlushFolder(folder);
    if (rc != 0 || Ignored(false)) return rc;
    FolderSynced(FolderKey(folder));
    return 0;
}

int PowerLossEnv::EngineWrite(const std::string& path, std::int64_t offset, std::int64_t bytes) {
    {
        std::lock_guard hold(m_mutex);
        SettleEngineDelete();
        const std::string key = Key(path);
        SaveRange(key, offset, offset + bytes);
        m_lastWrite = LastWrite{key, offset, bytes};
    }
    return EnvWrapper::EngineWrite(path, offset, bytes);
}

int PowerLossEnv::EngineTruncate(const std::string& path, std::int64_t size) {
    {
        std::lock_guard hold(m_mutex);
        SettleEngineDelete();
        const std::string key = Key(path);
        SaveRange(key, size, std::max<std::int64_t>(SizeOnDisk(key), 0));
    }
    return EnvWrapper::EngineTruncate(path, size);
}

int PowerLossEnv::EngineSync(const std::string& path) {
    {
        std::lock_guard hold(m_mutex);
        SettleEngineDelete();
        CutPoint("engine.sync " + fs::path(path).filename().string());
    }
    return EnvWrapper::EngineSync(path);
}

void PowerLossEnv::EngineSynced(const std::string& path) {
    EnvWrapper::EngineSynced(path);
    std::lock_guard hold(m_mutex);
    if (Ignored(true)) return;
    const std::string key = Key(path);
    m_files.erase(key);
    if (m_lastWrite && m_lastWrite->path == key) m_lastWrite.reset();
    // The engine syncs a journal's folder with the journal's first sync, so
    // that a hot journal cannot vanish with the power.
    if (m_folderSyncOnFirstSync.erase(key)) FolderSynced(FolderOf(key));
}

void PowerLossEnv::EngineCreated(const std::string& path) {
    EnvWrapper::EngineCreated(path);
    std::lock_guard hold(m_mutex);
    SettleEngineDelete();
    const std::string key = Key(path);
    Created(key);
    if (IsEngineJournal(key)) m_folderSyncOnFirstSync[key] = true;
}

int PowerLossEnv::EngineDelete(const std::string& path, bool syncFolder) {
    {
        std::lock_guard hold(m_mutex);
        SettleEngineDelete();
        const std::string key = Key(path);
        if (OnDisk(key)) {
            Removed(key);
            if (syncFolder) m_deletedWithFolderSync = key;
        }
    }
    return EnvWrapper::EngineDelete(path, syncFolder);
}

Env* ProcessPowerLossEnv() {
    static const std::unique_ptr<Env> faults = NewFaultInjectionEnv(RealEnv());
    static const std::unique_ptr<Env> layer = []() -> std::unique_ptr<Env> {
        auto settings = PowerLossEnv::FromEnvironment();
        if (!settings) return nullptr;
        return std::make_unique<PowerLossEnv>(*faults, std::move(*settings));
    }();
    // The power may also fail the moment the run has ended: what it told
    // the user must be durable by then.
    static const bool atExit = layer && std::atexit([] { static_cast<PowerLossEnv*>(ProcessPowerLossEnv())->Exit(); }) == 0;
    (void)atExit;
    return layer.get();
}

}  // namespace qx
