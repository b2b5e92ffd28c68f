#include "database/access/EngineErrorText.h"

#include "support/Env.h"
#include "support/TextResources.h"
#include "support/engine/Connection.h"

#include <cerrno>

namespace qx {

EngineProblem ProblemOfCode(long code) {
    // Our own codes carry no primary code; the engine's extended codes
    // (an I/O error while syncing is 1034) do, whatever their size.
    if (code >= sql::kNotUpdatable && code <= sql::kNotRegularFile) return EngineProblem::Other;
    switch (code & 0xff) {
    case sql::kBusy:
    case sql::kLocked: return EngineProblem::InUse;
    case 3 /* permission denied */:
    case 23 /* authorization denied */: return EngineProblem::NoPermission;
    case sql::kReadOnly: return EngineProblem::ReadOnly;
    case 10 /* I/O error */: return EngineProblem::ReadError;
    case 11 /* corrupt */: return EngineProblem::Damaged;
    case 13 /* full */: return EngineProblem::DiskFull;
    case sql::kCantOpen: return EngineProblem::CannotOpen;
    case sql::kNotADatabase: return EngineProblem::NotAnArchive;
    default: return EngineProblem::Other;
    }
}

EngineProblem ProblemOfOpen(Env& env, long code, const std::string& path) {
    const EngineProblem problem = ProblemOfCode(code);
    if (problem != EngineProblem::CannotOpen || path.empty()) return problem;
    switch (env.AccessError(path, false)) {
    case ENOENT:
    case ENOTDIR: return EngineProblem::Missing;
    case EACCES:
    case EPERM: return EngineProblem::NoPermission;
    default: return problem;
    }
}

std::string ProblemSentence(EngineProblem problem, const std::string& path) {
    switch (problem) {
    case EngineProblem::InUse:
        return FormatMsg(GetResString(331, "Het bestand '%s' is in gebruik door een ander programma. Sluit het andere "
                                           "programma (bijvoorbeeld Vellumo) en probeer het opnieuw; het bestand is "
                                           "niet beschadigd."),
                         {path});
    case EngineProblem::CannotOpen:
        return FormatMsg(GetResString(332, "Het bestand '%s' kon niet worden geopend. Controleer of het bestaat en "
                                           "of u toegang hebt tot de map waarin het staat."),
                         {path});
    case EngineProblem::Missing:
        return FormatMsg(GetResString(333, "Het bestand '%s' bestaat niet (meer). Zet het terug uit een back-up, of "
                                           "kies met Database > Openen het juiste archief."),
                         {path});
    case EngineProblem::NoPermission:
        return FormatMsg(GetResString(334, "U hebt geen toegang tot het bestand '%s'. Vraag uw beheerder om lees- en "
                                           "schrijfrechten; het bestand is niet beschadigd."),
                         {path});
    case EngineProblem::NotAnArchive:
        return FormatMsg(GetResString(335, "Het bestand '%s' is geen Vellumo database, of het is zo beschadigd dat "
                                           "het niet meer als database herkend wordt. Kies het juiste bestand, of "
                                           "herstel het met een recente back-up."),
                         {path});
    case EngineProblem::Damaged:
        // Salvage first: a damaged file usually still holds nearly all of
        // its documents, and a backup would throw away what came after it.
        return FormatMsg(GetResString(336, "Het bestand '%s' is beschadigd. Berg wat er nog in staat met Database > "
                                           "Bergen\xE2\x80\xA6 (quillex-cli salvage); herstel wat daarna nog "
                                           "ontbreekt met een recente back-up, of neem contact op met Tarnwick als "
                                           "er geen is."),
                         {path});
    case EngineProblem::DiskFull:
        return FormatMsg(GetResString(337, "De schijf waarop '%s' staat is vol. Maak ruimte vrij en probeer het "
                                           "opnieuw."),
                         {path});
    case EngineProblem::ReadError:
        return FormatMsg(GetResString(338, "Het bestand '%s' kon niet worden gelezen of geschreven door een lees- of "
                                           "schijffout. Controleer de schijf of de netwerkverbinding en probeer het "
                                           "opnieuw."),
                         {path});
    case EngineProblem::ReadOnly:
        return FormatMsg(GetResString(339, "Het bestand '%s' kan niet worden gewijzigd: het bestand, de map of de "
                                           "schijf is alleen-lezen. Open het archief met Alleen rapporteren, of zorg "
                                           "voor schrijfrechten."),
                         {path});
    case EngineProblem::Other: break;
    }
    return FormatMsg(GetResString(340, "Bij het bestand '%s' meldde de database een onverwachte fout. De melding zelf "
                                       "staat bij de details; neem contact op met Tarnwick als het probleem blijft."),
                     {path});
}

std::string EngineDetails(const std::vector<engine::ProviderError>& errors) {
    std::string details;
    for (const engine::ProviderError& e : errors)
        details += (details.empty() ? "" : "\r\n") + e.description + " (" + std::to_string(e.number) + ")";
    return details;
}

}  // namespace qx
