#include "database/DocumentActions.h"

#include "support/FileOperations.h"
#include "support/engine/Recordset.h"
#include "support/Log.h"
#include "support/HumanFormat.h"
#include "support/TextResources.h"

#include <charconv>

namespace qx {

namespace {

constexpr const char* kNoResource = "Resources not found";

bool Yes(MainWindow& window, const std::string& text, MsgIcon icon, long titleId, const char* titleDefault) {
    return window.MsgBox(text, MsgButtons::YesNo, icon, GetResString(titleId, titleDefault)) == MsgAnswer::Yes;
}

}  // namespace

long DocumentIdOfKey(const std::string& key) {
    if (key.size() <= 2) return 0;
    long id = 0;
    const char* first = key.data() + 2;
    const char* last = key.data() + key.size();
    const auto [end, ec] = std::from_chars(first, last, id);
    return ec == std::errc() && end == last ? id : 0;
}

bool AskRemoveSelected(MainWindow& window, std::size_t count) {
    // Says how many: "all selected" is easily more than the user sees.
    return Yes(window,
               FormatMsg(GetResString(315, "Weet u zeker dat u de %s geselecteerde (beschadigde) documenten wilt "
                                           "verwijderen?"),
                         {FormatCount(static_cast<long long>(count))}),
               MsgIcon::None, 25, kNoResource);
}

bool AskRemoveRepairedNamed(MainWindow& window, const std::string& name) {
    return Yes(window,
               FormatMsg(GetResString(116, "Het document '%s' blijkt gerepareerd. Weet u zeker dat u dit document "
                                           "wilt verwijderen?"),
                         {name}),
               MsgIcon::Exclamation, 23, kNoResource);
}

bool AskRemoveOne(MainWindow& window, const std::string& name, bool repaired) {
    if (repaired)
        return Yes(window,
                   GetResString(117, "Dit document blijkt gerepareerd. Weet u zeker dat u dit document wilt "
                                     "verwijderen?"),
                   MsgIcon::Exclamation, 23, kNoResource);
    return Yes(window, FormatMsg(GetResString(24, kNoResource), {name}), MsgIcon::Question, 25, kNoResource);
}

bool RemoveDocument(CDatabase& database, long id) {
    WriteLog(std::to_string(id) + " - Removing from database");
    const bool removed = database.RemoveDoc(id);
    if (removed) database.ForgetFindings(id);
    return removed;
}

std::string ExplainResult(long nErr, const std::string& sSubDatabase, const std::string& sMainDatabase) {
    const auto plain = [](long textId) { return FormatMsg(GetResString(textId, kNoResource)); };
    switch (nErr) {
    case 1: return FormatMsg(GetResString(39, kNoResource), {sSubDatabase});
    case 2: {
        std::string folder = GetFolderPart(sMainDatabase);
        while (!folder.empty() && IsPathSeparator(folder.back())) folder.pop_back();
        return FormatMsg(GetResString(40, kNoResource), {sSubDatabase, folder});
    }
    case 8: return plain(51);
    case 16:
        return FormatMsg(GetResString(281, "In de subdatabase '%s' staan gegevens onder het nummer van dit document, "
                                           "terwijl het document naar een andere subdatabase verwijst. Het document "
                                           "houdt zijn eigen gegevens; bij het reorganiseren worden deze gegevens een "
                                           "apart document ('Fixed')."),
                         {sSubDatabase});
    case 32: return plain(41);
    case 64: return plain(42);
    case 128: return plain(48);
    case 256: return plain(43);
    case 512: return FormatMsg(GetResString(44, kNoResource), {sSubDatabase});
    case 1024: return plain(46);
    case 2052: return plain(52);
    case 2056: return plain(50);
    case 2064: return plain(49);
    case 2176: return plain(47);
    case 2304:
        return FormatMsg(GetResString(105, "Dit was een onbereikbare pagina van een multipage document. De pagina is "
                                           "omgezet naar een enkelvoudig document."));
    case 3072: return plain(45);
    case 5632: return plain(59);
    case 24576:
        return FormatMsg(GetResString(265, "De subdatabase '%s' staat buiten de map van de database. Ze wordt "
                                           "gelezen maar nooit gewijzigd; zet het bestand in de map van de "
                                           "database om het te laten controleren en herstellen."),
                         {sSubDatabase});
    // The file's name stands in the sub database column of these rows.
    case 16384:
        return FormatMsg(GetResString(442, "Een deel van het bestand '%s' kan niet worden gelezen: het bestand is "
                                           "beschadigd. De naam in de lijst zegt welke tabel of index. Zet het "
                                           "bestand terug uit een recente back-up."),
                         {sSubDatabase});
    case 18432:
        return FormatMsg(GetResString(443, "Alleen een index van het bestand '%s' was beschadigd. Alle tabellen "
                                           "waren leesbaar en de index is daaruit opnieuw opgebouwd. U hoeft niets "
                                           "te doen."),
                         {sSubDatabase});
    case 22528:
        return FormatMsg(GetResString(444, "Tabellen van het bestand '%s' waren beschadigd. Wat nog leesbaar was, "
                                           "is geborgen in een nieuw bestand; het beschadigde bestand staat ernaast "
                                           "als '.damaged'. Scan de documenten die als verloren of beschadigd in de "
                                           "lijst staan opnieuw in."),
                         {sSubDatabase});
    // Shown as the string library has them: these two are not formatted.
    case 12800:
        return GetResString(135, "Dit document heeft een verouderd (niet meer ondersteund) opslagformaat. Neem "
                                 "contact op met Tarnwick voor meer informatie.");
    case 14848:
        return GetResString(134, "Dit document heeft een verouderd (niet meer ondersteund) opslagformaat. Er is een "
                                 "back-up gemaakt van het originele document en het opslagformaat is aangepast.");
    default: return FormatMsg(GetResString(60, kNoResource), {std::to_string(nErr)});
    }
}

std::optional<bool> DocumentExists(CDatabase& database, long nId) {
    if (!CDatabase::Connected(database.m_AdoCnMain)) return std::nullopt;
    engine::Recordset rs;
    if (!rs.open("SELECT ID FROM FOLDERS WHERE ID = " + std::to_string(nId), *database.m_AdoCnMain,
                 engine::CursorMode::Lookup))
        return std::nullopt;
    return !rs.eof();
}

std::optional<RecordKind> RecordKindOf(CDatabase& database, long nId) {
    if (!CDatabase::Connected(database.m_AdoCnMain)) return std::nullopt;
    sql::Statement st(database.m_AdoCnMain->database(), "SELECT CASE WHEN ISFOLDER THEN 1 ELSE 0 END FROM FOLDERS WHERE ID = ?");
    if (!st.ok()) return std::nullopt;
    st.bind(1, static_cast<std::int64_t>(nId));
    switch (st.step()) {
    case sql::Step::Row: return st.getInt64(0) != 0 ? RecordKind::Folder : RecordKind::Document;
    case sql::Step::Done: return RecordKind::None;
    default: return std::nullopt;
    }
}

DocumentInformation GetDocumentInformation(CDatabase& database, long nId, long nErr, const std::string& sSubDatabase) {
    DocumentInformation info;
    database.DocumentInfo(nId, info.name, info.keywords, info.notes, info.date, info.zip);
    info.explanation = ExplainResult(nErr, sSubDatabase, database.MainDatabaseName());
    return info;
}

}  // namespace qx
