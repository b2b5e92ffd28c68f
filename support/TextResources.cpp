#include "support/TextResources.h"

#include "support/FileOperations.h"
#include "support/Tools.h"

#include <QLibrary>
#include <QString>

#include <algorithm>
#include <climits>

namespace qx {

namespace {

// The string library's one text entry: writes the text as NUL-terminated
// UTF-8 and returns its length in bytes, 0 for an unknown or empty text.
using LoadStringFn = int (*)(int id, char* buffer, int bufferSize);

std::string& LibraryFolder() {
    static std::string folder;
    return folder;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (std::size_t hit; (hit = text.find(from, pos)) != std::string_view::npos; pos = hit + from.size()) {
        out.append(text.substr(pos, hit - pos));
        out.append(to);
    }
    out.append(text.substr(pos));
    return out;
}

std::size_t FindPlaceholder(const std::string& text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '%' && (text[i + 1] == 's' || text[i + 1] == 'S')) return i;
    return std::string::npos;
}

}  // namespace

void SetStringLibraryFolder(std::string folder) { LibraryFolder() = std::move(folder); }

std::string StringLibraryPath() {
    std::string folder = LibraryFolder().empty() ? AppPath() : LibraryFolder();
    if (!folder.empty() && !IsPathSeparator(folder.back())) folder += PathSeparator();
    return folder + QUILLEX_STRING_LIBRARY;
}

std::string GetResString(long id, std::string_view def) {
    std::string result(def);
    if (id < INT_MIN || id > INT_MAX) return result;

    // Loaded by full path: a bare name would make the system's search pick
    // up whatever library of that name comes first.
    QLibrary library(QString::fromStdString(StringLibraryPath()));
    if (!library.load()) return result;
    if (auto load = reinterpret_cast<LoadStringFn>(library.resolve("QuillexLoadString"))) {
        // Room for the longest text in the widest UTF-8 form plus the NUL.
        std::string buffer(kMaxResStringChars * 4 + 1, '\0');
        int n = load(static_cast<int>(id), buffer.data(), static_cast<int>(buffer.size()));
        if (n > 0) {
            std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(n), buffer.size() - 1);
            std::string_view raw(buffer.data(), length);
            raw = raw.substr(0, raw.find('\0'));
            std::string text = Utf8Left(raw, kMaxResStringChars);
            if (!text.empty()) result = std::move(text);
        }
    }
    library.unload();
    return result;
}

std::string FormatMsg(std::string_view tmpl, std::span<const Variant> args) {
    std::string text = ReplaceAll(tmpl, "%i", "%s");
    for (const Variant& arg : args) {
        std::size_t at = FindPlaceholder(text);
        if (at == std::string::npos) break;
        text.replace(at, 2, arg.toString());
    }
    return ReplaceAll(text, "%n", "\r\n");
}

}  // namespace qx
