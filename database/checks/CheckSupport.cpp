#include "database/checks/CheckSupport.h"

#include "support/Log.h"

#include <QDate>

#include <charconv>

namespace qx {

namespace {
constexpr int kEngineFull = 13;  // the engine's "database or disk is full"
}  // namespace

void ErrorTrap::operator()(const sql::Error& e) const {
    logReported(e);
    if ((e.code & 0xff) == kEngineFull) {
        if (m_full++ == 0) m_firstFull = e.message;
        return;
    }
    if (m_unreported++ == 0) m_first = e.message;
}

void ErrorTrap::logReported(const sql::Error& e) const {
    WriteLog(m_name + " [" + std::to_string(m_id) + "]: " + e.message + " (" + std::to_string(e.code) + ")");
}

void ErrorTrap::operator()(const engine::Connection& cn) const {
    if (cn.errors().empty()) (*this)(sql::Error{sql::kMisuse, "Unknown error"});
    else (*this)(sql::Error{static_cast<int>(cn.errors().front().number), cn.errors().front().description});
}

long CountRows(engine::Connection& cn, const std::string& text, const ErrorTrap& trap) {
    sql::Statement* st = cn.prepared(text);
    if (!st) return trap(cn), 0;
    const sql::Step s = st->step();
    if (s == sql::Step::Failed) return trap(st->error()), 0;
    const long n = s == sql::Step::Row ? static_cast<long>(st->getInt64(0)) : 0;
    st->reset();
    return n;
}

std::string TodayStamp() { return QDate::currentDate().toString("yyyyMMdd").toStdString(); }

bool ContainerOf(std::string_view marker, long& nId) {
    if (marker.size() < 3) return false;
    const std::string_view digits = marker.substr(2);
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || std::to_string(value) != digits) return false;
    nId = value;
    return true;
}

bool ParseWholeNumber(const std::string& text, long& value) {
    if (text.empty() || text.size() > 10) return false;
    std::int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < 0 || v > 2147483647) return false;
    value = static_cast<long>(v);
    return true;
}

}  // namespace qx
