// The one writer of log lines; see support/Log.h for the conversions.
#include "support/LogLine.h"

#include "support/Log.h"
#include "support/Tools.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qx {

namespace {

// Code points of the bytes 0x80-0x9F. The five bytes Windows-1252 leaves
// unassigned map onto the C1 control of the same number, as Windows itself
// converts them, so that every byte survives a round trip.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};


enum class Kind { None, Regular, Link, Other };

// What stands under the name itself, links not followed.
Kind KindOf(const std::filesystem::path& path) {
    std::error_code ec;
    switch (std::filesystem::symlink_status(path, ec).type()) {
    case std::filesystem::file_type::not_found: return Kind::None;
    case std::filesystem::file_type::regular: return Kind::Regular;
    case std::filesystem::file_type::symlink: return Kind::Link;
    default: return ec ? Kind::None : Kind::Other;
    }
}

std::string SystemText(int err) { return std::generic_category().message(err); }

// Appends to a regular file only, never through a link: a log name may
// have been replaced by a link to a file that is not ours to write, or by a
// pipe that would hold the program up. Returns the reason when it cannot.
std::string AppendBytes(const std::string& path, const std::string& bytes) {
#ifdef _WIN32
    const std::filesystem::path native(std::u8string(path.begin(), path.end()));
    switch (KindOf(native)) {
    case Kind::None:
    case Kind::Regular: break;
    case Kind::Link: return "it is a link";
    default: return "it is not a regular file";
    }
    std::FILE* f = ::_wfopen(native.c_str(), L"ab");
    if (!f) return SystemText(errno);
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok ? std::string() : std::string("it could not be written");
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                          0644);
    if (fd < 0) {
        const int err = errno;
        const Kind kind = KindOf(path);
        if (kind == Kind::Link) return "it is a symbolic link";
        if (kind != Kind::None && kind != Kind::Regular) return "it is not a regular file";
        return SystemText(err);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return "it is not a regular file";
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = errno;
            ::close(fd);
            return SystemText(err);
        }
        done += static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0 ? std::string() : SystemText(errno);
#endif
}

}  // namespace

char CodePointToCp1252(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (int i = 0; i < 32; ++i)
        if (kHighControls[i] == cp) return static_cast<char>(0x80 + i);
    return '?';
}

std::string Utf8ToCp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        char32_t cp = NextCodePoint(utf8, pos);
        out += cp == kInvalidCodePoint ? '?' : CodePointToCp1252(cp);
    }
    return out;
}

std::string Cp1252ToUtf8(std::string_view cp1252) {
    std::string out;
    out.reserve(cp1252.size());
    for (char c : cp1252) {
        unsigned char b = static_cast<unsigned char>(c);
        AppendUtf8(out, b >= 0x80 && b < 0xA0 ? kHighControls[b - 0x80] : char32_t(b));
    }
    return out;
}


std::string AppendLogLine(const std::string& path, std::string_view utf8Line) {
    std::string bytes = Utf8ToCp1252(utf8Line);
    bytes += "\r\n";
    return AppendBytes(path, bytes);
}

}  // namespace qx
