#include "database/maintenance/RunOutcome.h"

#include "database/access/EngineErrorText.h"

#include "support/HumanFormat.h"
#include "support/TextResources.h"

#include <algorithm>
#include <cerrno>

namespace qx {

Trouble TroubleOfEngineCode(int code) {
    if (code == 0) return Trouble::None;
    // One reading of the engine's codes for the whole program: the open box
    // and the end of a run must never call the same failure by two names.
    switch (ProblemOfCode(code)) {
    case EngineProblem::DiskFull: return Trouble::DiskFull;
    case EngineProblem::InUse: return Trouble::InUse;
    case EngineProblem::Damaged:
    case EngineProblem::NotAnArchive: return Trouble::Damaged;
    default: return Trouble::Other;
    }
}

Trouble TroubleOfErrno(int err) {
    switch (err) {
    case 0: return Trouble::None;
    case ENOSPC:
    case EDQUOT: return Trouble::DiskFull;
    case EBUSY:
    case ETXTBSY:
    case EAGAIN: return Trouble::InUse;
    default: return Trouble::Other;
    }
}

std::string TroubleAdvice(const CompactTrouble& t) {
    switch (t.trouble) {
    case Trouble::DiskFull: {
        const std::string what = GetResString(362, "de schijf is vol.");
        // Without a known amount: what one more compaction of the largest file asks.
        const std::int64_t needed = t.needed > 0 ? t.needed : 52'428'800;
        return what + " " +
               FormatMsg(GetResString(363, "Maak ten minste %s vrij op %s en probeer het opnieuw."),
                         {FormatBytes(needed), t.volume.empty() ? UnknownText() : t.volume});
    }
    case Trouble::InUse:
        return GetResString(364, "een ander programma gebruikt een bestand van het archief.") + " " +
               GetResString(365, "Sluit alle Vellumo programma's en probeer het opnieuw.");
    case Trouble::Damaged:
        return GetResString(366, "een bestand van het archief is beschadigd.") + " " +
               GetResString(367, "Voer de intensieve controle uit (Database > Controleren > Intensief) om het te "
                                 "onderzoeken en te herstellen, en probeer het daarna opnieuw.");
    case Trouble::None:
    case Trouble::Other:
        break;
    }
    return FormatMsg(GetResString(368, "er is een fout opgetreden (%s)."), {t.reason.empty() ? UnknownText() : t.reason}) +
           " " + GetResString(369, "In het logboek staan de details. Los de oorzaak op en probeer het opnieuw.");
}

std::string DescribeReorganizeEnd(const ReorganizeOutcome& o, std::string& title, bool& stopped) {
    stopped = o.cancelled || !o.stop.empty();
    if (o.cancelled) {
        title = GetResString(297, "Reorganiseren gestopt...");
        return FormatMsg(GetResString(370, "Het reorganiseren is geannuleerd. Wat al was verplaatst (%s documenten), "
                                           "blijft verplaatst en elk document leidt naar zijn gegevens. Start het "
                                           "reorganiseren opnieuw om het af te maken. De lijst met resultaten is "
                                           "niet gewijzigd."),
                         {FormatCount(o.documentsMoved)});
    }
    if (!o.stop.empty()) {
        title = GetResString(297, "Reorganiseren gestopt...");
        CompactTrouble t = o.trouble;
        if (t.reason.empty()) t.reason = o.stop;
        return FormatMsg(GetResString(361, "Het reorganiseren is gestopt voordat het klaar was: %s%n%nWat al was "
                                           "verplaatst (%s documenten), blijft verplaatst en elk document leidt naar "
                                           "zijn gegevens. De lijst met resultaten is niet gewijzigd."),
                         {TroubleAdvice(t), FormatCount(o.documentsMoved)});
    }
    title = GetResString(356, "Reorganiseren klaar...");
    const std::int64_t won = std::max<std::int64_t>(o.bytesBefore - o.bytesAfter, 0);
    if (o.reportOnly)
        return FormatMsg(GetResString(357, "Alleen rapporteren: er is niets gewijzigd.%n%nEen echte run zou %s "
                                           "documenten verplaatsen (%s) en %s bestanden opzijzetten. De "
                                           "archiefbestanden zouden van %s naar ongeveer %s gaan."),
                         {FormatCount(o.documentsMoved), FormatBytes(o.bytesMoved), FormatCount(o.filesSetAside),
                          FormatBytes(o.bytesBefore), FormatBytes(o.bytesAfter)});
    return FormatMsg(GetResString(355, "Het reorganiseren is klaar.%n%nVerplaatste documenten: %s%nOpzijgezette "
                                       "bestanden: %s (%s)%nArchiefbestanden: %s \xE2\x86\x92 %s (%s gewonnen)%n%nDe "
                                       "opzijgezette bestanden (.obsolete) kunnen na een back-up worden verwijderd."),
                     {FormatCount(o.documentsMoved), FormatCount(o.filesSetAside), FormatBytes(o.bytesSetAside),
                      FormatBytes(o.bytesBefore), FormatBytes(o.bytesAfter), FormatBytes(won)});
}

std::string DescribeCompactEnd(const CompactOutcome& o, std::string& title) {
    title = GetResString(359, "Comprimeren klaar...");
    const std::int64_t won = std::max<std::int64_t>(o.bytesBefore - o.bytesAfter, 0);
    std::string text = FormatMsg(GetResString(358, "Gecomprimeerde bestanden: %s van %s.%nRuimte: %s \xE2\x86\x92 %s "
                                                   "(%s gewonnen)."),
                                 {FormatCount(o.compacted), FormatCount(o.files), FormatBytes(o.bytesBefore),
                                  FormatBytes(o.bytesAfter), FormatBytes(won)});
    if (o.skipped > 0)
        text += "\r\n" + FormatMsg(GetResString(447, "Al compact en daarom overgeslagen: %s."), {FormatCount(o.skipped)});
    if (o.trouble.trouble != Trouble::None)
        text += "\r\n\r\n" + FormatMsg(GetResString(360, "Niet alle bestanden zijn gecomprimeerd: %s"),
                                       {TroubleAdvice(o.trouble)});
    return text;
}

}  // namespace qx
