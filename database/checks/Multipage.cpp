// CDatabase: repairs of the multipage structure — pages whose container is
// gone become single pages, and the pages of each container are numbered
// 2, 3, ... behind it. Any engine failure ends the repair quietly; rows
// already written stay written.
#include "database/CDatabase.h"
#include "support/Tools.h"
#include "support/engine/Recordset.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace qx {

namespace {

// Pages are numbered in a 16-bit field.
constexpr long kMaxPage = std::numeric_limits<std::int16_t>::max();

// The container ID of a page marker "MC<ID>". Only the exact decimal
// spelling counts: "MC040" or "MC4x" name no container, and reading them as
// 40 or 4 would let the repair touch pages that belong to someone else.
bool ContainerOf(std::string_view marker, long& nId) {
    if (marker.size() < 3) return false;
    const std::string_view digits = marker.substr(2);
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || std::to_string(value) != digits) return false;
    nId = value;
    return true;
}

// The page rows of a container. Page markers match case-insensitively:
// archives hold markers in either case ("MC12", "mc12"), and a page whose
// marker differs only in case still belongs to its container.
std::string PagesOf(long nContainerId) {
    return "FROM FOLDERS WHERE TEMPLATE1 = 'MC" + std::to_string(nContainerId) + "' COLLATE NOCASE";
}

}  // namespace

long CDatabase::CheckMultipageParentMissing() {
    if (!Connected(m_AdoCnMain)) return 0;
    engine::Connection& cn = *m_AdoCnMain;
    engine::Recordset markers;
    if (!markers.open("SELECT DISTINCT TEMPLATE1 FROM FOLDERS WHERE TEMPLATE1 LIKE 'MC%'", cn,
                      engine::CursorMode::Lookup))
        return 0;
    for (; !markers.eof(); markers.moveNext()) {
        long nContainerId = 0;
        if (!ContainerOf(NullToStr(markers.value(0)), nContainerId)) continue;
        sql::Statement* container = cn.prepared("SELECT TEMPLATE1 FROM FOLDERS WHERE ID = ?");
        if (!container) return 0;
        container->bind(1, static_cast<std::int64_t>(nContainerId));
        const sql::Step found = container->step();
        container->reset();
        if (found == sql::Step::Failed) return 0;
        if (found == sql::Step::Row) continue;

        engine::Recordset pages;
        if (!pages.open("SELECT TEMPLATE1, PAGE, WIDTH, HEIGHT " + PagesOf(nContainerId), cn, engine::CursorMode::Edit))
            return 0;
        for (; !pages.eof(); pages.moveNext()) {
            if (!pages.setValue("TEMPLATE1", Variant()) || !pages.setValue("PAGE", 1) || !pages.setValue("WIDTH", 0) ||
                !pages.setValue("HEIGHT", 0) || !pages.update()) {
                NoteSaveFailure(MainDatabaseName(), pages.lastError());
                return 0;
            }
        }
    }
    return 0;
}

void CDatabase::MultipageRenumberPages() {
    if (!Connected(m_AdoCnMain)) return;
    engine::Connection& cn = *m_AdoCnMain;
    // Without a wildcard: only containers marked exactly "MP" are renumbered.
    engine::Recordset containers;
    if (!containers.open("SELECT ID, PAGE FROM FOLDERS WHERE TEMPLATE1 LIKE 'MP'", cn, engine::CursorMode::Edit)) return;
    for (; !containers.eof(); containers.moveNext()) {
        if (!containers.setValue("PAGE", 1)) return;
        const long nId = containers.value("ID").toLong();
        engine::Recordset pages;
        if (!pages.open("SELECT PAGE " + PagesOf(nId) + " ORDER BY PAGE ASC", cn, engine::CursorMode::Edit)) return;
        long number = 2;
        for (; !pages.eof(); pages.moveNext()) {
            if (number > kMaxPage) return;
            if (!pages.setValue("PAGE", number) || !pages.update()) return NoteSaveFailure(MainDatabaseName(), pages.lastError());
            ++number;
        }
        pages.close();
        if (!containers.update()) return NoteSaveFailure(MainDatabaseName(), containers.lastError());
    }
}

}  // namespace qx
