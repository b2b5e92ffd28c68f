#include "database/StatusBar.h"

#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/HumanFormat.h"
#include "support/TextResources.h"

namespace qx {

std::array<std::string, 4> StatusBarTexts(Env& env, const MainWindowState& state, std::size_t documentRows,
                                          std::size_t selectedRows, bool reportOnly) {
    std::array<std::string, 4> panels;
    if (!state.m_sDatabaseName.empty() && env.FileExists(state.m_sDatabaseName))
        panels[0] = FormatMsg(GetResString(111, "%s [%s MB, %s items]"),
                              {GetFileNamePart(state.m_sDatabaseName), FormatCount(state.m_nDBSizeMB),
                               FormatCount(state.m_nItemCount)});
    else
        panels[0] = GetResString(112, "database: --");
    panels[0] += "      ";
    auto count = [](long n) { return n == -1 ? Variant("--") : Variant(FormatCount(n)); };
    panels[1] = FormatMsg(GetResString(113, "beschadigd: %s"), {count(state.m_nDamaged)});
    panels[2] = reportOnly ? FormatMsg(GetResString(274, "zou worden gerepareerd: %s"), {count(state.m_nFixed)})
                           : FormatMsg(GetResString(114, "gerepareerd: %s"), {count(state.m_nFixed)});
    if (state.m_bListPartial) panels[2] += "  " + GetResString(218, "Lijst onvolledig: de controle is afgebroken");
    if (documentRows > 0)
        panels[3] = FormatMsg(GetResString(115, "geselecteerd %s"), {FormatCount(static_cast<long long>(selectedRows))});
    if (reportOnly)
        panels[3] = GetResString(275, "Alleen rapporteren: er wordt niets gewijzigd") +
                    (panels[3].empty() ? "" : "      " + panels[3]);
    return panels;
}

}  // namespace qx
