#pragma once
// Small pieces shared by the checks.
#include "support/engine/Connection.h"
#include "support/engine/Sql.h"

#include <string>
#include <string_view>

namespace qx {

// The checks log a failing statement under their own name and go on:
// "<name> [<id>]: <description> (<number>)".
class ErrorTrap {
public:
    ErrorTrap(std::string name, const long& currentId) : m_name(std::move(name)), m_id(currentId) {}
    void operator()(const sql::Error& e) const;
    void operator()(const engine::Connection& cn) const;  // its last error
    // Logs an error that the caller reports as a finding of its own.
    void logReported(const sql::Error& e) const;
    // Errors logged that no finding reports: the check must not end clean.
    long unreported() const { return m_unreported; }
    const std::string& firstUnreported() const { return m_first; }
    void settle() const { m_unreported = 0; }  // they have been reported now
    // Writes refused because the disk is full: no damage, and no finding.
    long diskFull() const { return m_full; }
    const std::string& firstDiskFull() const { return m_firstFull; }
    void settleDiskFull() const { m_full = 0; }

private:
    std::string m_name;
    const long& m_id;
    mutable long m_unreported = 0;
    mutable std::string m_first;
    mutable long m_full = 0;
    mutable std::string m_firstFull;
};

// The first column of the first row as a number; 0 (and the trap told) on failure.
long CountRows(engine::Connection& cn, const std::string& sql, const ErrorTrap& trap);

// Today as the archive stores dates: "yyyymmdd".
std::string TodayStamp();

// The container ID of a page marker "MC<ID>". Only the exact decimal
// spelling counts: "MC040" or "MC4x" name no container, and reading them as
// 40 or 4 would let a repair touch pages that belong to someone else.
bool ContainerOf(std::string_view marker, long& nId);

// A document shown as an image: no TEMPLATE1, or a page ("MC...") or the
// container ("MP...") of a multipage document. Any other TEMPLATE1 marks an
// imported file.
inline bool IsGraphicalTemplate(std::string_view template1) {
    return template1.empty() || template1.starts_with("MC") || template1.starts_with("MP");
}

// Digits only, no sign, no blanks, fits a 32-bit number.
bool ParseWholeNumber(const std::string& text, long& value);

}  // namespace qx
