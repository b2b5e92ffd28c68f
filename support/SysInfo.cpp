#include "support/SysInfo.h"

#include "support/FileOperations.h"

#include "support/Env.h"

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

std::string DriveRoot(Env& env, std::string_view path) { return env.VolumeRoot(std::string(path)); }

namespace {
std::int64_t (*g_freeSpaceProbe)(std::string_view) = nullptr;
}

void OverrideFolderFreeSpaceForTests(std::int64_t (*probe)(std::string_view folder)) { g_freeSpaceProbe = probe; }

std::int64_t FolderFreeSpace(Env& env, std::string_view folder) {
    if (g_freeSpaceProbe) return g_freeSpaceProbe(folder);
    return env.FreeSpace(std::string(folder));
}

}  // namespace qx
