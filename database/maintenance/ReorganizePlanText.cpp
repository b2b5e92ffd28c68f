// The reorganize plan in words, as the preview shows it.
#include "database/maintenance/ReorganizePlan.h"

#include "support/HumanFormat.h"
#include "support/TextResources.h"

#include <algorithm>
#include <string>

namespace qx {

std::string DescribePlan(const ReorganizePlan& plan) {
    std::string out = GetResString(233, "Voorbeeld van het reorganiseren (er wordt niets gewijzigd):") + "\n";
    auto line = [&](long id, const char* fallback, std::initializer_list<Variant> args) {
        out += FormatMsg(GetResString(id, fallback), args) + "\n";
    };
    if (!plan.refusal.empty()) {
        line(234, "Het reorganiseren zou stoppen met de melding: %s", {plan.refusal});
        return out;
    }
    for (const std::string& path : plan.readOnly)
        line(237, "'%s' is alleen-lezen; het reorganiseren heft dat eerst op.", {path});
    for (const ReorganizePlan::Renumbered& r : plan.renumbered)
        line(235, "Eerst worden de subdatabases hernummerd: '%s' wordt '%s'.", {r.from, r.to});
    for (const auto& [path, aside] : plan.setAside) line(236, "'%s' wordt opzijgezet als '%s'.", {path, aside});
    if (plan.moves.empty()) line(245, "Er hoeven geen documenten te worden verplaatst.", {});
    for (const ReorganizePlan::Move& m : plan.moves)
        line(238, "%s documenten (%s) gaan van '%s' naar '%s'.",
             {FormatCount(m.documents), FormatKilobytes(m.bytes), m.source, m.destination});
    if (plan.moves.size() > 1)
        line(246, "In totaal %s documenten (%s).", {FormatCount(plan.documentsMoved), FormatKilobytes(plan.bytesMoved)});
    if (plan.duplicatesOverwritten)
        line(241, "%s dubbele documenten worden overschreven (zelfde inhoud of leeg).",
             {FormatCount(plan.duplicatesOverwritten)});
    if (plan.duplicatesFixed)
        line(242, "%s dubbele documenten met andere inhoud krijgen een nieuw nummer (document 'Fixed').",
             {FormatCount(plan.duplicatesFixed)});
    if (plan.unreferencedSkipped)
        line(243, "%s lege documenten zonder verwijzing blijven staan waar ze staan.",
             {FormatCount(plan.unreferencedSkipped)});
    if (plan.unreferencedRepaired)
        line(244, "%s documenten zonder verwijzing worden opgenomen als 'Repaired document'.",
             {FormatCount(plan.unreferencedRepaired)});
    for (const std::string& path : plan.retired)
        line(239, "'%s' raakt leeg en wordt hernoemd naar '.obsolete'.", {path});
    for (const ReorganizePlan::Renumbered& r : plan.renumberedAtEnd)
        line(282, "Tot slot worden de subdatabases hernummerd: '%s' wordt '%s'.", {r.from, r.to});
    for (const auto& [path, aside] : plan.setAsideAtEnd) line(236, "'%s' wordt opzijgezet als '%s'.", {path, aside});
    for (const ReorganizePlan::FileAfter& f : plan.files) {
        if (std::find(plan.retired.begin(), plan.retired.end(), f.path) != plan.retired.end()) continue;
        line(240, "'%s': nu %s, daarna ongeveer %s.", {f.path, FormatKilobytes(f.before), FormatKilobytes(f.after)});
    }
    return out;
}

}  // namespace qx
