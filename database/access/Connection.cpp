// CDatabase: connect strings, connections and opening the main database.
#include "database/CDatabase.h"
#include "support/Env.h"
#include "database/access/EngineErrorText.h"
#include "database/access/FileNames.h"
#include "support/ArchiveLock.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/TextResources.h"
#include "support/engine/ConnectString.h"
#include "support/engine/Recordset.h"

#include <utility>

namespace qx {

CDatabase::CDatabase(MainWindow& window, Env& env) : m_window(window), m_sessionEnv(env), m_env(&env) {}

CDatabase::~CDatabase() {
    Disconnect(m_AdoCnMain);
    Disconnect(m_AdoCnPdb);
    m_ownView.reset();  // after the connections that write into it
}

bool CDatabase::DryRun() const { return m_env->ReportOnly(); }

bool CDatabase::SetDryRun(bool bDryRun) {
    if (bDryRun == DryRun()) return true;
    // A session handed a report-only layer stays report-only.
    if (!bDryRun && !m_ownView) return false;
    // A connection keeps the file layer it was opened with, so every one
    // is opened again: none may write to disk in a report-only run, and none
    // may keep a report-only run's changes after it.
    const std::string connect = Connected(m_AdoCnMain) ? m_AdoCnMain->connectionString() : std::string();
    Disconnect(m_AdoCnPdb);
    Disconnect(m_AdoCnMain);
    m_lastPicbase = {};
    m_verified.reset();
    if (bDryRun) m_ownView = NewReportOnlyEnv(m_sessionEnv);
    else m_ownView.reset();
    m_env = m_ownView ? m_ownView.get() : &m_sessionEnv;
    WriteLog(bDryRun ? "Report-only mode: nothing on disk is changed" : "Report-only mode ended");
    if (connect.empty()) return true;
    m_AdoCnMain = OpenConnection(connect);
    return Connected(m_AdoCnMain);
}

std::string CDatabase::ConnectString(const std::string& sFileName, const std::string& sPwd) {
    // Filled in one pass and quoted where needed: a folder may be named
    // "%PWD%" or "x;Data Source=y", and neither may change what the engine
    // reads, nor may the password ever end up inside a path.
    return engine::ConnectString::Fill(
        "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%DBNAME%;Jet OLEDB:Database Password=%PWD%",
        {{"%DBNAME%", sFileName}, {"%PWD%", sPwd}});
}

std::string CDatabase::ConnectStringOMD(const std::string& sFileName) {
    return engine::ConnectString::Fill("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%DBNAME%;",
                                       {{"%DBNAME%", sFileName}});
}

bool CDatabase::Connected(const ConnectionPtr& connection) {
    return connection && connection->state() != engine::StateClosed;
}

void CDatabase::Disconnect(ConnectionPtr& connection) {
    if (Connected(connection)) connection->close();
    connection.reset();
}

void CDatabase::SetDatabase(ConnectionPtr connection) {
    Disconnect(m_AdoCnMain);
    m_folderScan.clear();
    m_verified.reset();
    m_bDamageTold = false;
    m_AdoCnMain = std::move(connection);
}

void CDatabase::SetPicbase(ConnectionPtr connection) {
    Disconnect(m_AdoCnPdb);
    m_AdoCnPdb = std::move(connection);
}

std::string CDatabase::MainDatabaseName() const {
    return m_AdoCnMain ? m_AdoCnMain->property("DATA SOURCE").value_or("") : std::string();
}

ConnectionPtr CDatabase::OpenConnection(const std::string& sConnectString) {
    auto cn = std::make_unique<engine::Connection>(*m_env);
    m_lastOpenError = {};
    if (cn->open(sConnectString)) return cn;
    if (!cn->errors().empty()) m_lastOpenError = cn->errors().front();
    if (m_lastOpenError.number == sql::kNotRegularFile) {
        // Not a damaged file: a name that leads elsewhere. Said whether or
        // not connection errors are shown, since the change it stops is the
        // user's own.
        const std::string file = engine::ConnectString::Parse(sConnectString).dataSource();
        const std::string& why = m_lastOpenError.description;
        const size_t end = why.find("' is a link or no regular file; '");
        const std::string bad = !why.empty() && why.front() == '\'' && end != std::string::npos ? why.substr(1, end - 1)
                                                                                              : file;
        NotRegularFileMessage(bad, file);
        return nullptr;
    }
    if (m_bShowErrors) {
        const auto& errors = cn->errors();
        const std::string file = engine::ConnectString::Parse(sConnectString).dataSource();
        if (!errors.empty() && errors.front().number != 0) {
            ShowConnectionErrors(errors, file);
        } else {
            const std::string details = errors.empty() ? "Unknown error (0)" : EngineDetails({errors.front()});
            m_window.MsgBoxDetails(ProblemSentence(EngineProblem::Other, file), details, MsgButtons::OK,
                                   MsgIcon::Exclamation, "");
        }
    }
    return nullptr;
}

void CDatabase::NotRegularFileMessage(const std::string& bad, const std::string& file) {
    WriteLog("'" + bad + "' is a link or no regular file; '" + file + "' is not opened for writing");
    if (!m_notRegularTold.insert(bad).second) return;
    m_window.MsgBox(FormatMsg(GetResString(285, "Het bestand '%s' is een koppeling of geen gewoon bestand. '%s' wordt "
                                                "daarom niet geopend om te wijzigen en de bewerking stopt. Zet het "
                                                "echte bestand op die plaats in de map van het archief en probeer het "
                                                "opnieuw."),
                              {bad, file}),
                    MsgButtons::OK, MsgIcon::Exclamation, GetResString(286, "Geen gewoon bestand..."));
}

void CDatabase::ShowConnectionErrors(const std::vector<engine::ProviderError>& errors, const std::string& sFile) {
    if (!m_bShowErrors) return;
    // What the failure means for the user comes first, in Dutch; the
    // engine's own words follow apart, for whoever supports the user.
    const EngineProblem problem = ProblemOfOpen(*m_env, errors.empty() ? 0 : errors.front().number, sFile);
    m_window.MsgBoxDetails(GetResString(87, "Resources not found") + "\r\n" + ProblemSentence(problem, sFile),
                           EngineDetails(errors), MsgButtons::OK, MsgIcon::Exclamation,
                           GetResString(86, "Resources not found"));
}

bool CDatabase::WriteProbe(const std::string& path) {
    // A read-only file, medium or folder is refused whatever its tables
    // hold: writing back a value proves nothing when the table is empty.
    bool readOnly = m_AdoCnMain->isReadOnly();
    if (!readOnly) {
        std::string last;
        for (const engine::CatalogTable& t : m_AdoCnMain->tables())
            if (t.type == "TABLE") last = t.name;
        if (!last.empty()) {
            engine::Recordset rs;
            if (rs.open("SELECT * FROM " + last, *m_AdoCnMain, engine::CursorMode::Edit) && !rs.eof() &&
                rs.fieldCount() > 0) {
                readOnly = !rs.setValue(rs.fieldName(0), rs.value(0));
                rs.cancelUpdate();
            }
        }
    }
    if (readOnly) WriteLog("Database '" + path + "' is readonly!");
    return !readOnly;
}

void CDatabase::TestOmdDatabase(const std::string& mainPath) {
    const std::string omd = OmdName(mainPath);
    if (m_env->FileExists(omd)) {
        // One message for one file: the OCR database's own, with the
        // engine's words as its details, not the connection's box before it.
        const bool showErrors = std::exchange(m_bShowErrors, false);
        ConnectionPtr cn = OpenConnection(ConnectStringOMD(omd));
        m_bShowErrors = showErrors;
        if (Connected(cn)) {
            Disconnect(cn);
            return;
        }
        const std::string details = m_lastOpenError.number != 0 ? EngineDetails({m_lastOpenError}) : std::string();
        const EngineProblem problem = ProblemOfOpen(*m_env, m_lastOpenError.number, omd);
        // A file another program holds, or that may not or could not be
        // read, is not damaged: a backup is the wrong advice for it.
        if (problem == EngineProblem::InUse || problem == EngineProblem::NoPermission ||
            problem == EngineProblem::ReadError) {
            WriteLog("The OCR database '" + omd + "' could not be opened: " + details);
            m_window.MsgBoxDetails(ProblemSentence(problem, omd), details, MsgButtons::OK, MsgIcon::Exclamation,
                                   GetResString(214, "Database niet toegankelijk..."));
            return;
        }
        m_window.MsgBoxDetails(FormatMsg(GetResString(118, "Waarschuwing: De database met OCR data kon niet worden "
                                                           "geopend!%n%nHerstel het bestand '%s' met een recente "
                                                           "back-up om het probleem op te lossen."),
                                         {omd}),
                               details, MsgButtons::OK, MsgIcon::Exclamation, GetResString(119, "OCR data corrupt..."));
    } else {
        m_window.MsgBox(FormatMsg(GetResString(120, "Waarschuwing: De database met OCR data is niet gevonden!%n%n"
                                                    "Herstel het bestand '%s' met een recente back-up om het probleem "
                                                    "op te lossen."),
                                  {omd}),
                        MsgButtons::OK, MsgIcon::Exclamation, GetResString(121, "OCR data niet gevonden..."));
    }
}

bool CDatabase::OpenDatabase(std::string sConnectString, bool bAllowReadOnly) {
    Disconnect(m_AdoCnMain);
    m_folderScan.clear();
    m_verified.reset();
    m_bDamageTold = false;
    m_AdoCnMain = OpenConnection(sConnectString);
    std::string path = MainDatabaseName();
    // Without a connection there is no reported path; test the named file,
    // so that a file that exists but does not open is not called missing.
    if (path.empty()) path = engine::ConnectString::Parse(sConnectString).dataSource();
    if (!m_env->FileExists(path)) {
        if (m_bShowErrors)
            m_window.MsgBox(GetResString(85, "Resources not found"), MsgButtons::OK, MsgIcon::Exclamation,
                            GetResString(86, "Resources not found"));
        return false;
    }
    if (!Connected(m_AdoCnMain)) return false;
    if (bAllowReadOnly) return false;
    if (!WriteProbe(path)) return false;
    TestOmdDatabase(path);
    return true;
}

}  // namespace qx
