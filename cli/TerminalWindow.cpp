#include "cli/TerminalWindow.h"
#include "support/Settings.h"

#include <algorithm>
#include "database/ProgressWindow.h"
#include "database/access/FileNames.h"
#include "database/access/OpenArchive.h"
#include "support/ImageLoader.h"
#include "support/Env.h"

#include <atomic>
#include <filesystem>
#include <chrono>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace qx::cli {

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void onInterrupt(int) { g_interrupted = true; }

// Message texts use CR LF between lines, as the log does; a terminal wants LF.
std::string terminalText(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

bool isQuestion(MsgButtons b) { return b != MsgButtons::OK; }

const char* kindOf(MsgIcon icon) {
    return icon == MsgIcon::Critical ? "error" : icon == MsgIcon::Exclamation ? "warning" : "note";
}

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

}  // namespace

TerminalWindow::TerminalWindow(Streams io, Answering answering) : m_io(io), m_answering(answering) {
    m_progressLine = ::isatty(fileno(io.err)) == 1;
    g_interrupted = false;
    std::signal(SIGINT, onInterrupt);
}

TerminalWindow::~TerminalWindow() { std::signal(SIGINT, SIG_DFL); }

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
    if (m_drawn) {
        std::fputs("\n", m_io.err);  // the notice does not belong on the progress line
        m_drawn = false;
    }
    std::fprintf(m_io.err, "%s%s%s: %s\n", kindOf(icon), title.empty() ? "" : " - ", title.c_str(),
                 terminalText(text).c_str());
    if (!isQuestion(buttons)) return MsgAnswer::OK;
    if (m_answering == Answering::Yes) return positive(buttons);
    if (m_answering == Answering::No || !::isatty(STDIN_FILENO)) {
        std::fprintf(m_io.err, "  -> answered %s (use --yes to agree)\n",
                     buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel ? "No" : "Cancel");
        return SafeAnswer(buttons);
    }
    std::fprintf(m_io.err, "  [y/N] ");
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
        if (n.count < 2) continue;
        std::string first = terminalText(n.text);
        first = first.substr(0, first.find('\n'));
        std::fprintf(m_io.err, "%s%s%s: %s (shown %d times)\n", kindOf(n.icon), n.title.empty() ? "" : " - ",
                     n.title.c_str(), first.c_str(), n.count);
    }
}

void TerminalWindow::ProgressShow(const ProgressView& view) {
    NullWindow::ProgressShow(view);
    draw(view, true);
}

void TerminalWindow::ProgressUpdate(const ProgressView& view) { draw(view, false); }

void TerminalWindow::ProgressHide() {
    NullWindow::ProgressHide();
    // The last state (the full bar of a finished walk) may have come too
    // soon after the previous drawing to be shown.
    if (m_pending) draw(m_view, true);
    if (m_drawn) std::fputs(g_interrupted ? "  cancelled\n" : "\n", m_io.err);
    else if (g_interrupted && m_progressLine) std::fputs("cancelled\n", m_io.err);
    m_drawn = false;
    m_pending = false;
}

void TerminalWindow::draw(const ProgressView& view, bool force) {
    if (!m_progressLine) return;
    m_view = view;
    const std::int64_t now = nowMs();
    if (!force && now - m_lastDraw < 100) {  // a terminal cannot show more anyway
        m_pending = true;
        return;
    }
    m_lastDraw = now;
    m_drawn = true;
    m_pending = false;
    char rate[32] = "";
    if (view.rate > 0) std::snprintf(rate, sizeof rate, "  %.1f/s", view.rate);
    std::fprintf(m_io.err, "\r\033[K%s  %d%%%s  %s  %s", view.countLine.c_str(), view.value, rate,
                 view.timeElapsed.c_str(), view.timeLeft.c_str());
    std::fflush(m_io.err);
}

void TerminalWindow::CompactSetStatus(const std::string& text) {
    if (m_drawn) {
        std::fputs("\n", m_io.err);
        m_drawn = false;
    }
    std::fprintf(m_io.err, "%s\n", terminalText(text).c_str());
}

bool TerminalWindow::CompactCanceled() const { return g_interrupted; }

void TerminalWindow::ReorganizeSetCaption(const std::string& caption) {
    // Each phase once: the caption is set again whenever a phase begins.
    if (caption == m_lastReorganizeCaption) return;
    m_lastReorganizeCaption = caption;
    std::fprintf(m_io.err, "%s\n", terminalText(caption).c_str());
}

int TerminalWindow::LoadImage(const std::vector<std::uint8_t>& data) { return LoadImageStatus(data); }

bool TerminalWindow::cancelled() const { return g_interrupted; }

int OpenedArchive::open(const QString& argument) {
    std::error_code ec;
    m_file = std::filesystem::absolute(argument.toStdString(), ec).lexically_normal().string();
    // A main database swapped for its compacted copy when the run was cut
    // off is briefly under another name; its intent record tells the open.
    if (!std::filesystem::is_regular_file(m_file, ec) && !std::filesystem::is_regular_file(IntentName(m_file), ec)) {
        std::fprintf(m_io.err, "quillex-cli: no such file: %s\n", m_file.c_str());
        return ExitOperational;
    }
    if (OpenDatabaseFile(database, m_file) != OpenOutcome::Opened || !CDatabase::Connected(database.m_AdoCnMain)) {
        if (const WriteBlock block = database.DryRun() ? WriteBlock{} : ArchiveWriteBlock(database.env(), m_file); block.error != 0) {
            std::fprintf(m_io.err, "quillex-cli: %s was not opened: it cannot be changed (%s: %s); --dry-run checks "
                         "it without changing anything\n",
                         m_file.c_str(), block.path.c_str(), std::strerror(block.error));
            return ExitOperational;
        }
        std::fprintf(m_io.err, "quillex-cli: %s was not opened\n", m_file.c_str());
        return window.cancelled() ? ExitCancelled : ExitOperational;
    }
    return ExitOk;
}

bool TakeRunOptions(QStringList& args, RunOptions& options, Streams io) {
    options.dryRun = (args.removeAll("--dry-run") + args.removeAll("-n")) > 0;
    const auto at = args.indexOf("--log");
    if (at < 0) return true;
    if (at + 1 >= args.size() || args.lastIndexOf("--log") != at) {
        std::fputs("quillex-cli: --log needs one file name\n", io.err);
        return false;
    }
    std::error_code ec;
    const std::string file = std::filesystem::absolute(args[at + 1].toStdString(), ec).lexically_normal().string();
    args.remove(at, 2);
    // Judged by identity once the archive is open: a file of the archive is refused.
    Settings::Get().LogFileChosen = file;
    return true;
}

void PrintReportOnlyEnd(const CDatabase& database, std::FILE* to) {
    for (const std::string& c : database.env().Changes()) std::fprintf(to, "would %s\n", c.c_str());
    std::fputs("report only: nothing was changed on disk\n", to);
}

bool TakeAnswering(QStringList& args, Answering& answering, Streams io) {
    const bool yes = args.removeAll("--yes") > 0;
    const bool no = args.removeAll("--no") > 0;
    if (yes && no) {
        std::fputs("quillex-cli: --yes and --no exclude each other\n", io.err);
        return false;
    }
    answering = yes ? Answering::Yes : no ? Answering::No : Answering::Ask;
    return true;
}

}  // namespace qx::cli
