#include "cli/TerminalWindow.h"
#include "database/ProgressWindow.h"
#include "database/access/FileNames.h"
#include "database/access/OpenArchive.h"
#include "support/Env.h"
#include "support/HumanFormat.h"
#include "support/ImageLoader.h"
#include "support/TextResources.h"

#include <QtGlobal>

#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qx::cli {

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void onInterrupt(int) { g_interrupted = true; }

// The terminal whose progress line a message of Qt or a decoder would
// otherwise land on.
TerminalWindow* g_terminal = nullptr;
QtMessageHandler g_previousQt = nullptr;
std::once_flag g_qtInstalled;

void QtToTerminal(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    // The handler before may keep the message to itself (the image loader
    // does while it decodes); the line is cleared either way and drawn
    // again with the next update.
    if (g_terminal) g_terminal->ClearLine();
    if (g_previousQt) g_previousQt(type, context, message);
    else if (type != QtDebugMsg && type != QtInfoMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
}

// The TIFF library's own diagnostics go straight to stderr unless the image
// loader takes them; the line is cleared for them the same way.
TIFFErrorHandler g_previousTiffError = nullptr, g_previousTiffWarning = nullptr;

void TiffErrorToTerminal(const char* module, const char* fmt, va_list ap) {
    if (g_terminal) g_terminal->ClearLine();
    if (g_previousTiffError) g_previousTiffError(module, fmt, ap);
}

void TiffWarningToTerminal(const char* module, const char* fmt, va_list ap) {
    if (g_terminal) g_terminal->ClearLine();
    if (g_previousTiffWarning) g_previousTiffWarning(module, fmt, ap);
}

// Message texts use CR LF between lines, as the log does; a terminal wants LF.
std::string terminalText(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

bool isQuestion(MsgButtons b) { return b != MsgButtons::OK; }

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

MsgAnswer positive(MsgButtons b) {
    switch (b) {
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel: return MsgAnswer::Yes;
    case MsgButtons::RetryCancel: return MsgAnswer::Retry;
    case MsgButtons::AbortRetryIgnore: return MsgAnswer::Ignore;
    default: return MsgAnswer::OK;
    }
}

// Columns of the terminal; a longer line would wrap, and the next redraw
// could clear only its last row.
int terminalColumns(std::FILE* to) {
    winsize size{};
    if (::ioctl(fileno(to), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

std::string fitColumns(const std::string& line, int columns) {
    const QString text = QString::fromStdString(line);
    if (text.size() < columns) return line;
    return text.left(std::max(0, columns - 1)).toStdString();
}

}  // namespace

TerminalWindow::TerminalWindow(Streams io, Answering answering) : m_io(io), m_answering(answering) {
    m_progressLine = ::isatty(fileno(io.err)) == 1 && !io.quiet;
    g_interrupted = false;
    std::signal(SIGINT, onInterrupt);
    g_terminal = this;
    // Installed once and left in place: a handler installed after it (the
    // image loader's) passes on to it, and taking it out would cut that chain.
    std::call_once(g_qtInstalled, [] {
        g_previousQt = qInstallMessageHandler(QtToTerminal);
        g_previousTiffError = TIFFSetErrorHandler(TiffErrorToTerminal);
        g_previousTiffWarning = TIFFSetWarningHandler(TiffWarningToTerminal);
    });
    m_previousLogHandler = SetLogProblemHandler([this](const std::string& line) { Say(line); });
}

TerminalWindow::~TerminalWindow() {
    std::signal(SIGINT, SIG_DFL);
    if (g_terminal == this) g_terminal = nullptr;
    SetLogProblemHandler(m_previousLogHandler);
}

void TerminalWindow::ListClear(ListId list) { (list == ListId::Documents ? m_documents : m_picbases).clear(); }

bool TerminalWindow::ListAdd(ListId list, const ListRow& row) {
    auto& rows = list == ListId::Documents ? m_documents : m_picbases;
    if (!row.key.empty() &&
        std::any_of(rows.begin(), rows.end(), [&](const ListRow& r) { return r.key == row.key; }))
        return false;
    rows.push_back(row);
    return true;
}

std::size_t TerminalWindow::ListCount(ListId list) const { return rows(list).size(); }

void TerminalWindow::ClearLine() {
    if (!m_drawn) return;
    std::fputs("\r\033[K", m_io.err);
    std::fflush(m_io.err);
    m_drawn = false;
    // What the line showed comes back with the next update or the end of the walk.
    m_pending = m_progress;
}

void TerminalWindow::Say(const std::string& line) {
    ClearLine();
    std::fprintf(m_io.err, "%s\n", line.c_str());
    std::fflush(m_io.err);
}

void TerminalWindow::printNotice(const std::string& text, const std::string& title, int count) {
    // Titles end in dots, as the window's do; before a colon they read oddly.
    std::string name = title;
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    std::string line = name.empty() ? text : name + ": " + text;
    if (count > 1) line += " (" + FormatMsg(GetResString(384, "%s keer getoond"), {FormatCount(count)}) + ")";
    Say(line);
}

bool TerminalWindow::quietAbout(MsgIcon icon) const { return m_io.quiet && icon != MsgIcon::Critical; }

MsgAnswer TerminalWindow::MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) {
    if (icon == MsgIcon::Exclamation || icon == MsgIcon::Critical) ++m_warnings;
    if (!isQuestion(buttons)) {
        // The same notice again (one missing sub database is met by every
        // step of a run) tells nothing new: it is counted, not repeated.
        for (ShownNotice& n : m_notices)
            if (n.text == text && n.title == title && n.icon == icon) {
                ++n.count;
                return MsgAnswer::OK;
            }
    }
    m_notices.push_back(ShownNotice{text, title, icon, 0, 1});
    // A question is always shown: what is answered must be readable.
    if (!isQuestion(buttons) && quietAbout(icon)) return MsgAnswer::OK;
    printNotice(terminalText(text), title, 1);
    if (!isQuestion(buttons)) return MsgAnswer::OK;
    if (m_answering == Answering::Yes) return positive(buttons);
    if (m_answering == Answering::No || !::isatty(STDIN_FILENO)) {
        Say("  -> " + GetResString(385, "niet ingestemd (met --yes stemt u in)"));
        return SafeAnswer(buttons);
    }
    std::fprintf(m_io.err, "  [j/N] ");
    std::fflush(m_io.err);
    char line[64] = {};
    if (!std::fgets(line, sizeof line, stdin)) return SafeAnswer(buttons);
    return (line[0] == 'y' || line[0] == 'Y' || line[0] == 'j' || line[0] == 'J') ? positive(buttons)
                                                                                   : SafeAnswer(buttons);
}

// The engine's own words on lines of their own, indented under the sentence.
MsgAnswer TerminalWindow::MsgBoxDetails(const std::string& text, const std::string& details, MsgButtons buttons,
                                        MsgIcon icon, const std::string& title) {
    std::string indented;
    for (std::size_t at = 0; at < details.size();) {
        const std::size_t end = std::min(details.find('\n', at), details.size());
        indented += "\n    " + details.substr(at, end - at);
        at = end + 1;
    }
    return MsgBox(text + indented, buttons, icon, title);
}

void TerminalWindow::DoEvents() {
    if (g_interrupted) {
        // What the Cancel buttons do: the running loop sees its window gone.
        m_progress = false;
        m_reorganize = false;
    }
    // The once-a-second timer of the progress window: the clock moves on
    // while one long item keeps the walk from reporting.
    if (m_progress && m_progressLine && nowMs() - m_lastDraw >= 1000)
        if (ProgressWindow* active = ProgressWindow::Active()) active->Tick();
}

void TerminalWindow::EndRun() {
    for (const ShownNotice& n : m_notices) {
        if (n.count < 2 || quietAbout(n.icon)) continue;
        std::string first = terminalText(n.text);
        first = first.substr(0, first.find('\n'));
        printNotice(first, n.title, n.count);
    }
}

void TerminalWindow::takeFigures(const ProgressView& view) {
    m_view = view;
    m_figures.known = false;
    if (const ProgressWindow* walk = ProgressWindow::Active()) {
        m_figures.phase = walk->m_sPhase.empty() ? view.caption : walk->m_sPhase;
        m_figures.index = walk->ShownIndex();
        m_figures.total = walk->ShownTotal();
        m_figures.elapsed = walk->ShownElapsed();
        m_figures.left = walk->ShownLeft();
        m_figures.known = true;
    }
}

void TerminalWindow::ProgressShow(const ProgressView& view) {
    NullWindow::ProgressShow(view);
    update(view, true);
}

void TerminalWindow::ProgressUpdate(const ProgressView& view) { update(view, false); }

void TerminalWindow::update(const ProgressView& view, bool shown) {
    const Figures before = m_figures;
    const ProgressView beforeView = m_view;
    takeFigures(view);
    // One progress window may carry several passes (the files, then the
    // documents): a new phase or total is a new pass, on a line of its own.
    const bool samePass = before.known && m_figures.known && before.phase == m_figures.phase &&
                          before.total == m_figures.total;
    if (!samePass && (before.known || shown)) {
        if (m_pending) {
            // The pass before ends where it stood, not where it was last drawn.
            const Figures next = m_figures;
            const ProgressView nextView = m_view;
            m_figures = before;
            m_view = beforeView;
            draw(true);
            m_figures = next;
            m_view = nextView;
        }
        if (m_drawn) std::fputs("\n", m_io.err);
        m_drawn = false;
        m_shownValue = -1;
        draw(true);
        return;
    }
    draw(shown);
}

void TerminalWindow::ProgressHide() {
    NullWindow::ProgressHide();
    // The last state (the full bar of a finished walk) may have come too
    // soon after the previous drawing to be shown.
    if (m_pending) draw(true);
    const std::string cancelled = GetResString(386, "afgebroken");
    if (m_drawn) std::fprintf(m_io.err, "%s\n", g_interrupted ? ("  " + cancelled).c_str() : "");
    else if (g_interrupted && m_progressLine) std::fprintf(m_io.err, "%s\n", cancelled.c_str());
    m_drawn = false;
    m_pending = false;
}

std::string TerminalWindow::progressText() const {
    const ProgressView& view = m_view;
    std::string line;
    if (m_figures.known) {
        line = m_figures.phase + "  " + FormatCount(m_figures.index) + "/" + FormatCount(m_figures.total) + "  " +
               std::to_string(view.value) + " %";
        if (view.rate > 0) line += "  " + FormatRate(view.rate);
        line += "  " + FormatMsg(GetResString(391, "%s verstreken, nog %s"),
                                 {FormatElapsed(m_figures.elapsed), FormatElapsed(m_figures.left)});
    } else {
        line = view.countLine + "  " + std::to_string(view.value) + " %";
        if (view.rate > 0) line += "  " + FormatRate(view.rate);
        line += "  " + view.timeElapsed + "  " + view.timeLeft;
    }
    return line;
}

void TerminalWindow::draw(bool force) {
    if (!m_progressLine) return;
    const std::int64_t now = nowMs();
    if (!force && now - m_lastDraw < 100) {  // a terminal cannot show more anyway
        m_pending = true;
        return;
    }
    m_lastDraw = now;
    m_pending = false;
    // A bar that goes back belongs to a new pass: the line that stood stays,
    // the new one names its phase again.
    if (m_drawn && m_view.value < m_shownValue) std::fputs("\n", m_io.err);
    m_shownValue = m_view.value;
    m_drawn = true;
    std::fprintf(m_io.err, "\r\033[K%s", fitColumns(progressText(), terminalColumns(m_io.err)).c_str());
    std::fflush(m_io.err);
}

void TerminalWindow::CompactSetStatus(const std::string& text) {
    if (!m_io.quiet) Say(terminalText(text));
}

bool TerminalWindow::CompactCanceled() const { return g_interrupted; }

void TerminalWindow::ReorganizeSetCaption(const std::string& caption) {
    // Each phase once: the caption is set again whenever a phase begins.
    if (caption == m_lastReorganizeCaption) return;
    m_lastReorganizeCaption = caption;
    if (!m_io.quiet) Say(terminalText(caption));
}

int TerminalWindow::LoadImage(const std::vector<std::uint8_t>& data) { return LoadImageStatus(data); }

bool TerminalWindow::cancelled() const { return g_interrupted; }

int OpenedArchive::open(const QString& argument) {
    std::error_code ec;
    m_file = std::filesystem::absolute(argument.toStdString(), ec).lexically_normal().string();
    auto refuse = [&](const std::string& why) {
        std::fprintf(m_io.err, "quillex-cli: %s\n", why.c_str());
        return ExitOperational;
    };
    if (std::filesystem::is_directory(m_file, ec))
        return refuse(FormatMsg(GetResString(392, "%s is een map, geen archief (.dat)"), {m_file}));
    // A main database swapped for its compacted copy when the run was cut
    // off is briefly under another name; its intent record tells the open.
    if (!std::filesystem::exists(m_file, ec) && !std::filesystem::is_regular_file(IntentName(m_file), ec))
        return refuse(FormatMsg(GetResString(393, "%s bestaat niet"), {m_file}));
    // A pipe or a device is never opened: reading one may never end.
    if (std::filesystem::exists(m_file, ec) && !std::filesystem::is_regular_file(m_file, ec))
        return refuse(FormatMsg(GetResString(394, "%s is niet geopend"), {m_file}));
    if (OpenDatabaseFile(database, m_file) != OpenOutcome::Opened || !CDatabase::Connected(database.m_AdoCnMain)) {
        if (const WriteBlock block = database.DryRun() ? WriteBlock{} : ArchiveWriteBlock(database.env(), m_file);
            block.error != 0)
            return refuse(FormatMsg(GetResString(395, "%s is niet geopend: het kan niet worden gewijzigd (%s: %s); met "
                                                      "--dry-run wordt het gecontroleerd zonder iets te wijzigen"),
                                    {m_file, block.path, std::string(std::strerror(block.error))}));
        refuse(FormatMsg(GetResString(394, "%s is niet geopend"), {m_file}));
        return window.cancelled() ? ExitCancelled : ExitOperational;
    }
    return ExitOk;
}

std::string ReportOnlyChange(const std::string& change) {
    // The engine words a change as "rename FROM -> TO" or "delete PATH".
    static constexpr std::string_view kRename = "rename ", kDelete = "delete ", kArrow = " -> ";
    if (change.starts_with(kRename)) {
        const std::string rest = change.substr(kRename.size());
        if (const auto arrow = rest.find(kArrow); arrow != std::string::npos)
            return FormatMsg(GetResString(531, "zou hernoemen: %s -> %s"),
                             {rest.substr(0, arrow), rest.substr(arrow + kArrow.size())});
    }
    if (change.starts_with(kDelete))
        return FormatMsg(GetResString(532, "zou verwijderen: %s"), {change.substr(kDelete.size())});
    return FormatMsg(GetResString(554, "zou: %s"), {change});
}

void PrintReportOnlyEnd(const std::vector<std::string>& changes, std::FILE* to) {
    for (const std::string& c : changes) std::fprintf(to, "%s\n", ReportOnlyChange(c).c_str());
    std::fprintf(to, "%s\n", GetResString(533, "alleen rapporteren: er is niets gewijzigd op schijf").c_str());
}

void PrintReportOnlyEnd(const CDatabase& database, std::FILE* to) { PrintReportOnlyEnd(database.env().Changes(), to); }

void RefuseArchiveFile(Streams io, const char* command, const char* option, const QString& file) {
    std::fprintf(io.err, "quillex-cli %s: %s\n", command,
                 FormatMsg(GetResString(535, "%s %s: geweigerd, het hoort bij het archief"),
                           {option, file.toLocal8Bit().toStdString()})
                     .c_str());
}

void CouldNotWrite(Streams io, const QString& file) {
    std::fprintf(io.err, "quillex-cli: %s\n",
                 FormatMsg(GetResString(538, "%s kon niet worden geschreven"), {file.toLocal8Bit().toStdString()})
                     .c_str());
}

std::string LabelledLines(const std::vector<std::pair<std::string, std::string>>& fields) {
    // Columns are counted in characters, not bytes: a label may hold "é".
    auto width = [](const std::string& s) {
        return static_cast<std::size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
    };
    std::size_t column = 0;
    for (const auto& f : fields) column = std::max(column, width(f.first));
    std::string out;
    for (const auto& [label, value] : fields)
        out += value.empty() ? label + "\n" : label + std::string(column + 2 - width(label), ' ') + value + "\n";
    return out;
}

}  // namespace qx::cli
