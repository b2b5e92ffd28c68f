#include "support/CustomDate.h"

#include "support/HumanFormat.h"

#include <QDate>
#include <QLocale>
#include <QString>

namespace qx {

namespace {

bool IsFieldLetter(char c) { return c == 'd' || c == 'M' || c == 'y'; }

}  // namespace

std::string BuildDatePattern(std::string_view format) {
    // Letters in single quotes are literal text in a Qt format, never a field.
    std::string fields;      // y, M and d in the order of their first use
    std::string separator;   // the text between the first field and the next one
    bool inQuote = false;
    std::size_t firstFieldEnd = std::string_view::npos;
    bool separatorDone = false;
    for (std::size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        bool field = !inQuote && IsFieldLetter(c);
        if (c == '\'') inQuote = !inQuote;
        if (field && fields.find(c) == std::string::npos) fields += c;
        if (firstFieldEnd == std::string_view::npos) {
            if (field && (i + 1 == format.size() || format[i + 1] != c)) firstFieldEnd = i + 1;
        } else if (!separatorDone) {
            if (field) separatorDone = true;
            else separator += c;
        }
    }
    if (fields.size() < 3) return "mm/dd/yy";

    std::string sep = separator.size() == 1 ? separator : "/";
    std::string pattern;
    for (char f : fields) {
        if (!pattern.empty()) pattern += sep;
        pattern += f == 'd' ? "dd" : f == 'M' ? "mm" : "yy";
    }
    return pattern;
}

const std::string& DatePattern() {
    static const std::string pattern =
        BuildDatePattern(QLocale::system().dateFormat(QLocale::ShortFormat).toStdString());
    return pattern;
}

std::string FormatStoredDate(std::string_view s) { return FormatStoredDate(s, DatePattern()); }

std::string FormatStoredDate(std::string_view s, std::string_view pattern) {
    // Short or odd input yields what is there, never a read past its end.
    auto part = [s](std::size_t from) { return from < s.size() ? s.substr(from, 2) : std::string_view(); };
    std::string out;
    for (std::size_t i = 0; i < pattern.size();) {
        std::string_view token = pattern.substr(i, 2);
        if (token == "dd" || token == "mm" || token == "yy") {
            out += token == "dd" ? part(6) : token == "mm" ? part(4) : part(2);
            i += 2;
        } else {
            out += pattern[i++];
        }
    }
    return out;
}

std::string ShowStoredDate(std::string_view s) {
    const QDate date = s.size() == 8 ? QDate::fromString(QString::fromLatin1(s.data(), 8), QStringLiteral("yyyyMMdd"))
                                     : QDate();
    return date.isValid() ? FormatDate(date) : std::string(s);
}

}  // namespace qx
