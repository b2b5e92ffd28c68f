#include "database/access/FileNames.h"

#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/Log.h"

namespace qx {

namespace {

// Where the extension of the file name starts, or npos when it has none.
std::size_t ExtensionStart(std::string_view path) {
    for (std::size_t i = path.size(); i-- > 0 && !IsPathSeparator(path[i]);)
        if (path[i] == '.') return i;
    return std::string_view::npos;
}

std::string_view WithoutExtension(std::string_view path) {
    const std::size_t dot = ExtensionStart(path);
    return dot == std::string_view::npos ? path : path.substr(0, dot);
}

}  // namespace

// An empty main path names no database; deriving a relative name from it
// would put files into whatever the current folder happens to be.
std::string SubDatabaseName(std::string_view mainPath, long n) {
    if (mainPath.empty()) return {};
    return std::string(WithoutExtension(mainPath)) + "_" + std::to_string(n) + ".pdb";
}

std::string OmdName(std::string_view mainPath) {
    if (mainPath.empty()) return {};
    // For "name.xxx" this is exactly "the last three characters become omd";
    // it also keeps other names whole ("name.db", "name").
    return std::string(WithoutExtension(mainPath)) + ".omd";
}

std::string LogName(std::string_view mainPath) {
    if (mainPath.empty()) return {};
    return LogFileNameFor(mainPath);
}

std::string LockName(std::string_view mainPath) {
    if (mainPath.empty()) return {};
    return std::string(WithoutExtension(mainPath)) + ".lock";
}

std::string IntentName(std::string_view mainPath) {
    if (mainPath.empty()) return {};
    return std::string(WithoutExtension(mainPath)) + ".intent";
}

std::string DeletedName(Env& env, std::string_view path) {
    if (path.empty()) return {};
    return env.UniqueFileName(std::string(path) + ".deleted");
}

std::string ObsoleteName(Env& env, std::string_view path) {
    if (path.empty()) return {};
    return env.UniqueFileName(std::string(path) + ".obsolete");
}

}  // namespace qx
