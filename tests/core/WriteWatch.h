#pragma once
// Proof that files were left alone: which watched files were opened for
// writing (even when nothing was written), changed, created, removed,
// renamed or had their attributes changed; and the bytes of a whole folder.
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/core/TestUtil.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace qx::test {

class WriteWatch {
public:
    WriteWatch() : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) { EXPECT_GE(m_fd, 0); }
    ~WriteWatch() {
        if (m_fd >= 0) ::close(m_fd);
    }
    WriteWatch(const WriteWatch&) = delete;
    WriteWatch& operator=(const WriteWatch&) = delete;

    // A folder (everything directly in it) or a single file.
    void add(const std::string& path) {
        const int wd = ::inotify_add_watch(m_fd, path.c_str(),
                                           IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE |
                                               IN_DELETE_SELF | IN_MOVED_FROM | IN_MOVED_TO | IN_MOVE_SELF);
        EXPECT_GE(wd, 0) << path;
        m_names[wd] = path;
    }

    // "what: path" for everything seen since the last call.
    std::vector<std::string> changes() {
        std::vector<std::string> out;
        alignas(inotify_event) char buffer[8192];
        for (ssize_t n; (n = ::read(m_fd, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                std::string path = m_names[e->wd];
                if (e->len > 0) path += "/" + std::string(e->name);
                out.push_back(What(e->mask) + ": " + path);
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        return out;
    }

private:
    static std::string What(std::uint32_t mask) {
        if (mask & IN_CLOSE_WRITE) return "opened for writing";
        if (mask & IN_MODIFY) return "written";
        if (mask & IN_ATTRIB) return "attributes changed";
        if (mask & (IN_CREATE | IN_MOVED_TO)) return "created";
        if (mask & (IN_DELETE | IN_DELETE_SELF)) return "removed";
        if (mask & (IN_MOVED_FROM | IN_MOVE_SELF)) return "renamed";
        return "changed";
    }
    int m_fd;
    std::map<int, std::string> m_names;
};

// File name -> bytes, for every file directly in the folder.
inline std::map<std::string, std::string> FolderBytes(const std::string& folder) {
    std::map<std::string, std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        out[entry.path().filename().string()] = bytes.str();
    }
    return out;
}

// Every entry of a folder as `ls -l --full-time` and `sha256sum` would tell
// it: inode, mode, size, modification and change time, the bytes' hash.
inline std::map<std::string, std::string> FolderStamps(const std::string& folder, bool withLog = true) {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        if (!withLog && e.path().extension() == ".log") continue;
        struct stat st {};
        ::lstat(e.path().c_str(), &st);
        std::string facts = std::to_string(st.st_ino) + " " + std::to_string(st.st_mode) + " " +
                            std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                            std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_ctim.tv_sec) + "." +
                            std::to_string(st.st_ctim.tv_nsec);
        if (S_ISREG(st.st_mode)) facts += " " + std::to_string(std::hash<std::string>()(Slurp(e.path().string())));
        out[e.path().filename().string()] = facts;
    }
    return out;
}

// The names of the files that differ, appeared or disappeared between two
// readings of FolderBytes: names, never bytes, in a failure message.
inline std::vector<std::string> ChangedFiles(const std::map<std::string, std::string>& before,
                                             const std::map<std::string, std::string>& after) {
    std::vector<std::string> out;
    for (const auto& [name, bytes] : before) {
        auto it = after.find(name);
        if (it == after.end()) out.push_back(name + " (gone)");
        else if (it->second != bytes) out.push_back(name);
    }
    for (const auto& [name, bytes] : after)
        if (!before.count(name)) out.push_back(name + " (new)");
    return out;
}

// How this process holds the file open right now: "read", "write",
// "read-write", or "" when it does not.
inline std::string HeldOpenAs(const std::string& path) {
    std::error_code ec;
    const auto target = std::filesystem::canonical(path, ec);
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        std::error_code e2;
        if (std::filesystem::read_symlink(fd.path(), e2) != target || e2) continue;
        std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
        for (std::string key; info >> key;) {
            if (key != "flags:") continue;
            std::string octal;
            info >> octal;
            switch (std::stoi(octal, nullptr, 8) & 03) {
            case 0: return "read";
            case 1: return "write";
            default: return "read-write";
            }
        }
    }
    return "";
}

}  // namespace qx::test
