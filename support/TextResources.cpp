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
    // One pass over the template alone: a value is copied as it is and never
    // read again, so a stored name holding "%s" or "%n" stays that name and
    // cannot take the next value or break the line.
    std::string text;
    text.reserve(tmpl.size() + 16 * args.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < tmpl.size(); ++i) {
        const char c = tmpl[i];
        const char after = i + 1 < tmpl.size() ? tmpl[i + 1] : '\0';
        if (c != '%' || (after != 's' && after != 'S' && after != 'i' && after != 'n')) {
            text += c;
            continue;
        }
        ++i;
        if (after == 'n') text += "\r\n";
        else if (next < args.size()) text += args[next++].toString();
        else text += after == 'S' ? "%S" : "%s";  // a placeholder without a value stays visible
    }
    return text;
}

}  // namespace qx
