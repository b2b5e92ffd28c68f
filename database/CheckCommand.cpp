#include "database/CheckCommand.h"
#include "support/TextResources.h"

#include "database/ArchiveFiles.h"
#include "support/Log.h"

#include <QDate>
#include <QLocale>
#include <QTime>

#include <cstdio>

namespace qx {

namespace {

struct Command {
    int index;
    short flags;
    const char* header;
};

constexpr Command kCommands[] = {
    {CheckQuick, 32, "Quick database check started "},
    {CheckNormal, 23, "Normal database check started "},
    {CheckThorough, 319, "Thorough database check started "},
    {CheckEmptyFolders, 64, "Normal database check started "},
    {CheckLargeDocuments, 128, "Normal database check started "},
};

std::string Now() {
    const QLocale locale = QLocale::system();
    return locale.toString(QDate::currentDate(), QLocale::ShortFormat).toStdString() + " " +
           QTime::currentTime().toString("HH:mm:ss").toStdString();
}

}  // namespace

void RunCheckCommand(CDatabase& database, int index, const std::string& caption) {
    MainWindow& window = database.Window();
    const std::string rule(70, '-');
    const Command* command = nullptr;
    for (const Command& c : kCommands)
        if (c.index == index) command = &c;
    if (!command) {
        WriteLog("");
        WriteLog(rule);
        WriteLog("Database Check: unknown command [" + caption + "] !");
        return;
    }
    window.State().m_nFixed = 0;
    window.State().m_nDamaged = 0;
    window.State().m_sSaveError.clear();
    window.UpdateStatusBar();
    WriteLog("");
    if (index == CheckEmptyFolders || index == CheckLargeDocuments) WriteLog("");
    WriteLog(rule);
    WriteLog(command->header + Now());

    window.SetBusy(true);
    window.SetEnabled(false);
    window.DoEvents();
    short flags = command->flags;
    database.Analyse(flags);
    // Repairs that the disk refused must not pass for repairs made.
    if (!window.State().m_sSaveError.empty())
        window.MsgBox(FormatMsg(GetResString(209, "Resources not found"), {window.State().m_sSaveError}),
                      MsgButtons::OK, MsgIcon::Critical, GetResString(210, "Resources not found"));
    // The list shows what the check left behind; a failure here is logged
    // by the list itself and must not end the program.
    database.ManagePdbList(ListId::Picbases);
    window.SetEnabled(true);
    window.UpdateStatusBar();
    window.SetBusy(false);
}

std::string ListLine(const ListRow& row) {
    const auto sub = [&](size_t i) { return i < row.subItems.size() ? row.subItems[i] : std::string(); };
    return sub(2) + "\t" + sub(0) + row.text;
}

SaveListOutcome SaveList(const CDatabase& database, const std::vector<ListRow>& rows, const std::string& path) {
    if (IsArchiveOwnFile(database, path)) return SaveListOutcome::ArchiveFile;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return SaveListOutcome::NotWritten;
    bool ok = true;
    for (const ListRow& row : rows) {
        const std::string line = Utf8ToCp1252(ListLine(row)) + "\r\n";
        ok = ok && std::fwrite(line.data(), 1, line.size(), f) == line.size();
    }
    return std::fclose(f) == 0 && ok ? SaveListOutcome::Saved : SaveListOutcome::NotWritten;
}

}  // namespace qx
