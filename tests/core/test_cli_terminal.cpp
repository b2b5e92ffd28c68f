// The terminal's progress line and notices, read back from a pseudo terminal.
#include "cli/TerminalWindow.h"
#include "database/ProgressWindow.h"
#include "support/TextResources.h"

#include <gtest/gtest.h>

#include <QtGlobal>

#include <tiffio.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <sstream>
#include <thread>

using namespace qx;
using qx::cli::Answering;
using qx::cli::Streams;
using qx::cli::TerminalWindow;

namespace {

// A terminal the window writes to and the test reads back: raw, so that
// what is read is what was written.
class Pty {
public:
    Pty() {
        EXPECT_EQ(::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr), 0);
        termios raw{};
        ::tcgetattr(m_slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(m_slave, TCSANOW, &raw);
        winsize size{};
        size.ws_col = 200;
        size.ws_row = 40;
        ::ioctl(m_slave, TIOCSWINSZ, &size);
        ::fcntl(m_master, F_SETFL, O_NONBLOCK);
        m_file = ::fdopen(m_slave, "w");
    }
    ~Pty() {
        std::fclose(m_file);
        ::close(m_master);
    }
    std::FILE* file() const { return m_file; }
    // Everything written so far (drained as it goes: a full terminal would block the writer).
    std::string read() {
        std::fflush(m_file);
        char buffer[4096];
        for (ssize_t n; (n = ::read(m_master, buffer, sizeof buffer)) > 0;) m_text.append(buffer, static_cast<size_t>(n));
        return m_text;
    }

private:
    int m_master = -1, m_slave = -1;
    std::FILE* m_file = nullptr;
    std::string m_text;
};

// The lines as a person sees them: each line's last drawing.
std::vector<std::string> ShownLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::size_t clear = line.rfind("\r\033[K");
        lines.push_back(clear == std::string::npos ? line : line.substr(clear + 4));
    }
    return lines;
}

// Every drawing, in order.
std::vector<std::string> Drawings(const std::string& text) {
    std::vector<std::string> out;
    for (std::size_t at = 0; (at = text.find("\r\033[K", at)) != std::string::npos; at += 4) {
        const std::size_t end = text.find_first_of("\r\n", at + 4);
        out.push_back(text.substr(at + 4, end == std::string::npos ? std::string::npos : end - at - 4));
    }
    return out;
}

struct Pass {
    std::string phase;
    long total;
};

// Walks the passes on one progress window, as the thorough check does
// (files, then documents on the same window), then a second window (links).
void Walk(TerminalWindow& window, Pty& pty, const std::vector<Pass>& passes, double& now) {
    ProgressWindow progress(window, [&now] { return now; });
    bool shown = false;
    for (const Pass& p : passes) {
        progress.m_sPhase = p.phase;
        progress.SetInitial(p.total, 100, false, now);
        if (!shown) progress.Show();
        shown = true;
        for (long i = 1; i <= p.total; ++i) {
            now += 0.5;
            progress.SetProgress(static_cast<int>(100 * i / p.total), i, "x");
            // Slower than the terminal's ten drawings a second.
            if (i % 3 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(110));
            pty.read();
        }
    }
    progress.Hide();
}

}  // namespace

TEST(CliTerminal, TheProgressLineNamesItsPhaseAndNeverGoesBack) {
    Pty pty;
    double now = 0;
    {
        TerminalWindow window(Streams{stdout, pty.file()}, Answering::No);
        Walk(window, pty, {{"bestanden", 6}, {"documenten", 12}}, now);
        Walk(window, pty, {{"koppelingen", 9}}, now);
    }
    const std::string text = pty.read();
    const std::vector<std::string> lines = ShownLines(text);
    ASSERT_EQ(lines.size(), 3u) << text;
    EXPECT_EQ(lines[0].rfind("bestanden  6/6  100 %", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("documenten  12/12  100 %", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("koppelingen  9/9  100 %", 0), 0u) << lines[2];
    // Within a line one phase, and its bar only goes forward.
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        int last = -1;
        std::string phase;
        for (const std::string& d : Drawings(line)) {
            const std::string name = d.substr(0, d.find(' '));
            if (phase.empty()) phase = name;
            EXPECT_EQ(name, phase) << line;
            const std::size_t percent = d.find(" %");
            const int value = std::stoi(d.substr(d.rfind(' ', percent - 1) + 1));
            EXPECT_GE(value, last) << line;
            last = value;
        }
    }
    // One time form; what is not known yet is said in words.
    EXPECT_NE(text.find("0:00 verstreken, nog " + GetResString(324, "onbekend")), std::string::npos) << text;
    EXPECT_EQ(text.find("???"), std::string::npos);
    EXPECT_EQ(text.find(" 00:"), std::string::npos) << text;
}

TEST(CliTerminal, AMessageClearsTheLineAndTheLineComesBack) {
    Pty pty;
    double now = 0;
    TerminalWindow window(Streams{stdout, pty.file()}, Answering::No);
    ProgressWindow progress(window, [&now] { return now; });
    progress.m_sPhase = "documenten";
    progress.SetInitial(10, 100, false, now);
    progress.Show();
    progress.SetProgress(10, 1, "x");
    struct Case { std::string name; std::function<void()> say; std::string told; } cases[] = {
        {"a notice", [&] { window.MsgBox("De subdatabase ontbreekt.", MsgButtons::OK, MsgIcon::Exclamation,
                                         "Subdatabase niet gevonden..."); },
         "Subdatabase niet gevonden: De subdatabase ontbreekt.\n"},
        {"a line of the command", [&] { window.Say("[1/3] x"); }, "[1/3] x\n"},
        {"a message of Qt", [&] { qWarning("decoder noise"); }, ""},
        {"a warning of the TIFF library", [&] { TIFFWarning("test", "%s", "decoder noise"); }, ""},
    };
    for (const Case& c : cases) {
        const std::size_t before = pty.read().size();
        c.say();
        const std::string after = pty.read().substr(before);
        // Cleared first, then the message on a line of its own.
        EXPECT_EQ(after.rfind("\r\033[K", 0), 0u) << c.name << ": " << after;
        EXPECT_EQ(after.substr(4), c.told) << c.name;
        std::this_thread::sleep_for(std::chrono::milliseconds(110));
        progress.SetProgress(20, 2, "y");
        EXPECT_EQ(pty.read().substr(before + after.size()).rfind("\r\033[Kdocumenten  2/10", 0), 0u) << c.name;
    }
    progress.Hide();
}

TEST(CliTerminal, QuietShowsNoProgressAndNoNoticesButErrors) {
    Pty pty;
    double now = 0;
    Streams io{stdout, pty.file()};
    io.quiet = true;
    TerminalWindow window(io, Answering::No);
    Walk(window, pty, {{"documenten", 4}}, now);
    window.MsgBox("Let op.", MsgButtons::OK, MsgIcon::Exclamation, "Waarschuwing...");
    window.MsgBox("Ter informatie.", MsgButtons::OK, MsgIcon::Information, "");
    window.CompactSetStatus("Bezig met comprimeren...");
    EXPECT_EQ(pty.read(), "");
    window.MsgBox("Kapot.", MsgButtons::OK, MsgIcon::Critical, "Databasefout...");
    EXPECT_EQ(pty.read(), "Databasefout: Kapot.\n");
    EXPECT_EQ(window.notices().size(), 3u);  // counted all the same, for the JSON
}
