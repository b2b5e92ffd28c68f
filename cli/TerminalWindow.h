#pragma once
// The window seam for a terminal: notices go to stderr, questions are asked
// on a terminal or answered by --yes / --no (the safe answer otherwise),
// Ctrl-C cancels the running operation the way the windows' Cancel does.
#include "cli/Command.h"
#include "database/CDatabase.h"
#include "database/CheckCommand.h"
#include "database/MainWindow.h"
#include "support/Env.h"
#include "support/Log.h"

#include <string>
#include <utility>
#include <vector>

namespace qx::cli {

enum class Answering { Ask, Yes, No };

// --dry-run (-n): a report-only run, chosen before anything is opened.
struct RunOptions {
    bool dryRun = false;
};
// The end of a report-only run's output: what it would have renamed or
// deleted, and that nothing on disk was changed.
void PrintReportOnlyEnd(const CDatabase& database, std::FILE* to);
// "label  value" lines with the values in one column, however long the
// labels turn out in the text library.
std::string ReportOnlyChange(const std::string& change);
void PrintReportOnlyEnd(const std::vector<std::string>& changes, std::FILE* to);
// "quillex-cli COMMAND: OPTION FILE: ..." for an output file that is one of the archive's own.
void RefuseArchiveFile(Streams io, const char* command, const char* option, const QString& file);
void CouldNotWrite(Streams io, const QString& file);
std::string LabelledLines(const std::vector<std::pair<std::string, std::string>>& fields);

class TerminalWindow : public NullWindow {
public:
    TerminalWindow(Streams io, Answering answering);
    ~TerminalWindow() override;

    void ListClear(ListId list) override;
    bool ListAdd(ListId list, const ListRow& row) override;
    std::size_t ListCount(ListId list) const override;
    MsgAnswer MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) override;
    MsgAnswer MsgBoxDetails(const std::string& text, const std::string& details, MsgButtons buttons, MsgIcon icon,
                            const std::string& title) override;
    void DoEvents() override;
    void ProgressShow(const ProgressView& view) override;
    void ProgressUpdate(const ProgressView& view) override;
    void ProgressHide() override;
    void CompactSetStatus(const std::string& text) override;
    bool CompactCanceled() const override;
    void ReorganizeSetCaption(const std::string& caption) override;
    int LoadImage(const std::vector<std::uint8_t>& data) override;
    bool LoadsWithoutDisplay() const override { return true; }

    const std::vector<ListRow>& rows(ListId list) const { return list == ListId::Documents ? m_documents : m_picbases; }
    int warnings() const { return m_warnings; }
    bool cancelled() const;
    // Every distinct notice of the command so far: a plain notice that comes
    // again with the same text, title and icon is counted, not printed again.
    const std::vector<ShownNotice>& notices() const { return m_notices; }
    // Ends the command's run: names the notices that came more than once.
    void EndRun();
    // Every line for a person that is no result goes through here: the
    // progress line is cleared first and drawn again with the next update.
    void Say(const std::string& line);
    // Takes the progress line off the terminal until the next update.
    void ClearLine();

private:
    Streams m_io;
    Answering m_answering;
    std::vector<ListRow> m_documents, m_picbases;
    int m_warnings = 0;
    std::vector<ShownNotice> m_notices;
    bool m_progressLine = false;     // stderr is a terminal: show a progress line
    std::int64_t m_lastDraw = 0;     // milliseconds
    bool m_drawn = false;
    std::string m_lastReorganizeCaption;
    bool m_pending = false;          // m_view holds more than the line shows
    ProgressView m_view;
    // The walk on the line: its phase name and where its bar stood. A bar
    // that goes back starts a new line, named again.
    struct Figures {
        bool known = false;
        std::string phase;
        long index = 0, total = 0, elapsed = 0, left = -1;
    } m_figures;
    int m_shownValue = -1;
    LogProblemHandler m_previousLogHandler;
    void draw(bool force);
    void update(const ProgressView& view, bool shown);
    void takeFigures(const ProgressView& view);
    std::string progressText() const;
    bool quietAbout(MsgIcon icon) const;
    // A notice as the terminal shows it: the title (its dots left out) and the text.
    void printNotice(const std::string& text, const std::string& title, int count);
};

// An archive opened for a command exactly as `open` opens it.
class OpenedArchive {
public:
    // A report-only run is chosen before anything is opened: every layer
    // below the view is read only.
    OpenedArchive(Streams io, Answering answering, RunOptions options = {})
        : files(MakeEnvStack(options.dryRun)), window(io, answering), database(window, files.top()), m_io(io) {}
    // ExitOk when the archive is open; otherwise the exit code, the reason
    // already printed.
    int open(const QString& argument);
    const std::string& file() const { return m_file; }

    EnvStack files;
    TerminalWindow window;
    CDatabase database;

private:
    Streams m_io;
    std::string m_file;
};


}  // namespace qx::cli
