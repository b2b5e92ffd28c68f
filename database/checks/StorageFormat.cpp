#include "database/checks/StorageFormat.h"

#include "support/Log.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cmath>
#include <charconv>
#include <cstdio>

namespace qx {

namespace {

// Half the length, rounded to the nearest whole number, ties to even
// (5 -> 2, 7 -> 4): the boundary of the upper half the data must fill.
std::size_t HalfOf(std::size_t n) { return static_cast<std::size_t>(std::nearbyint(static_cast<double>(n) / 2.0)); }

// Always "1.00": log readers parse the point, and printf would write the
// decimal sign of whatever C locale the process runs under ("1,00").
std::string TwoDecimals(float value) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, static_cast<double>(value), std::chars_format::fixed, 2);
    return std::string(text, r.ptr);
}

std::string Lower(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toLower().toStdString(); }

}  // namespace

short PdfSignatureType(std::span<const std::uint8_t> data, long nMinSize) {
    if (static_cast<long long>(data.size()) - 1 < nMinSize) return -2;
    if (data[0] == 0x25 && data[1] == 0x50 && data[2] == 0x44 && data[3] == 0x46) return 1;
    if (data[0] == 0x25 && data[2] == 0x50 && data[4] == 0x44 && data[6] == 0x46) return 2;
    return 0;
}

short DetectConversionError(std::span<const std::uint8_t> data) {
    const std::size_t n = data.size();
    if (n < 1) return StorageCorrect;
    if (PdfSignatureType(data, 10) == 2) {
        WriteLog("Incorrect (pdf) data storage type #1 detected");
        return StorageDoubleByte;
    }
    const std::size_t half = HalfOf(n);
    std::size_t zeros = 0;
    for (std::size_t i = 1; i < n; i += 2) zeros += data[i] == 0;
    bool upperZero = n >= 3;
    for (std::size_t i = half; upperZero && i < n; ++i) upperZero = data[i] == 0;
    if (upperZero) {
        WriteLog("Incorrect data storage type #2 detected");
        return StorageUpperHalfZero;
    }
    const float indicator = static_cast<float>(static_cast<double>(zeros) / (static_cast<double>(n) / 2.0));
    if (indicator > 0.9f) {
        WriteLog("Incorrect data storage type #1 detected (indicator = " + TwoDecimals(indicator) + ")");
        return StorageDoubleByte;
    }
    if (HasCommandLineSwitch("showindicators"))
        WriteLog("Correct data storage type detected (indicator = " + TwoDecimals(indicator) + ")");
    return StorageCorrect;
}

bool FixConversionError(short type, std::span<const std::uint8_t> data, std::vector<std::uint8_t>& fixed,
                        long& correctedSize, const std::function<void()>& pump) {
    fixed.assign(1, 0);
    const std::size_t size = data.size();
    if (size < 1) return true;
    if (type == StorageUpperHalfZero) {
        fixed.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min(size, HalfOf(size) + 1)));
        return true;
    }
    if (type != StorageDoubleByte) return true;
    constexpr std::size_t kPiece = 16384;
    fixed.assign(size + 1, 0);
    std::size_t out = 0;
    // The first piece takes what does not fill a whole one; the characters
    // are read per piece, so an odd first piece shifts the rest (the data
    // was stored that way, and is read back the way it was written).
    auto convert = [&](std::size_t from, std::size_t length) {
        for (std::size_t i = 0; i + 1 < length; i += 2) {
            const char32_t ch = static_cast<char32_t>(data[from + i] | (data[from + i + 1] << 8));
            fixed[out++] = static_cast<std::uint8_t>(CodePointToCp1252(ch));
        }
    };
    std::size_t at = 0;
    if (const std::size_t first = size % kPiece; first >= 1) {
        convert(0, first);
        at = first;
    }
    for (; at + kPiece <= size; at += kPiece) {
        convert(at, kPiece);
        if (pump) pump();
    }
    correctedSize = static_cast<long>(out);
    fixed.resize(out + 1);
    return true;
}

std::vector<std::string> SplitCommandLine(std::string_view line, int maximum) {
    std::vector<std::string> args;
    bool open = false, quoted = false;
    const std::size_t limit = static_cast<std::size_t>(std::max(0, maximum));
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '\'') {
                quoted = open = false;
                if (args.size() >= limit) break;
            } else {
                args.back() += c;
            }
        } else if (c == '\'') {
            if (args.size() >= limit) break;
            args.emplace_back();
            quoted = open = true;
        } else if (c == ' ' || c == '\t') {
            if (i > 0 && line[i - 1] == '-') continue;
            open = false;
        } else {
            if (!open) {
                if (args.size() >= limit) break;
                args.emplace_back();
                open = true;
            }
            args.back() += c;
        }
    }
    return args;
}

bool HasCommandLineSwitch(const std::string& sName) {
    if (!QCoreApplication::instance()) return false;
    // The command line as one text again, each argument that holds a blank
    // in single quotes, so that it splits back into the same arguments.
    std::string line;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (const QString& a : arguments) {
        const std::string text = a.toStdString();
        if (!line.empty()) line += ' ';
        line += a.contains(' ') || a.contains('\t') ? "'" + text + "'" : text;
    }
    const std::string wanted = "-" + Lower(sName);
    for (const std::string& argument : SplitCommandLine(line, 5))
        if (Lower(argument) == wanted) return true;
    return false;
}

}  // namespace qx
