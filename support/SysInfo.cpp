#include "support/SysInfo.h"

#include "support/FileOperations.h"

#include <filesystem>
#include <system_error>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace qx {

std::string DriveRootWindows(std::string_view path) {
    if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') return std::string(path.substr(0, 3));
    if (path.size() >= 2 && path[1] == ':') return std::string(path.substr(0, 2)) + "\\";
    if (path.size() >= 2 && path.substr(0, 2) == "\\\\") {
        std::size_t serverEnd = path.find('\\', 3);
        if (serverEnd == std::string_view::npos) return {};
        std::string_view server = path.substr(0, serverEnd + 1);
        std::string_view rest = path.substr(serverEnd + 1);
        std::size_t shareEnd = rest.find('\\');
        if (shareEnd == std::string_view::npos) return {};
        return std::string(server) + std::string(rest.substr(0, shareEnd + 1));
    }
    return {};
}

#ifdef _WIN32

std::string DriveRoot(std::string_view path) { return DriveRootWindows(path); }

#else

std::string DriveRoot(std::string_view path) {
    if (path.empty()) return {};
    std::error_code ec;
    fs::path p = fs::absolute(PathFromUtf8(path), ec);
    if (ec) return {};
    // Links count where they lead: that is the volume the data lands on.
    fs::path resolved = fs::weakly_canonical(p, ec);
    p = ec ? p.lexically_normal() : resolved;

    // A file about to be written does not exist yet; its folder decides.
    struct stat st {};
    while (::stat(p.c_str(), &st) != 0) {
        if (!p.has_relative_path()) return {};
        p = p.parent_path();
    }
    if (!S_ISDIR(st.st_mode)) {
        p = p.parent_path();
        if (::stat(p.c_str(), &st) != 0) return {};
    }
    // Climb while the parent is on the same device: the last folder before
    // the device changes is the mount point.
    while (p.has_relative_path()) {
        fs::path parent = p.parent_path();
        struct stat up {};
        if (::stat(parent.c_str(), &up) != 0 || up.st_dev != st.st_dev) break;
        p = parent;
    }
    std::string root = PathToUtf8(p);
    if (root.empty() || root.back() != '/') root += '/';
    return root;
}

#endif

namespace {
std::int64_t (*g_freeSpaceProbe)(std::string_view) = nullptr;
}

void OverrideFolderFreeSpaceForTests(std::int64_t (*probe)(std::string_view folder)) { g_freeSpaceProbe = probe; }

std::int64_t FolderFreeSpace(std::string_view folder) {
    if (g_freeSpaceProbe) return g_freeSpaceProbe(folder);
    std::error_code ec;
    const fs::space_info info = fs::space(PathFromUtf8(folder), ec);
    if (ec || info.available == static_cast<std::uintmax_t>(-1)) return -1;
    return static_cast<std::int64_t>(info.available);
}

}  // namespace qx
