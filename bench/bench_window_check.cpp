// The normal check in the window against the same check by quillex-cli, on
// identical copies of one generated archive: once without damage, once with
// every Nth document's data row gone (thousands of rows in the list), once
// with every data row gone (one row per document). Goal: the window at most
// 1.5x the command line, open included on both sides.
// Usage: QT_QPA_PLATFORM=offscreen bench_window_check [work-folder] [documents] [cases]
//        (documents default 50,000; cases 1..3 runs the first ones only, for
//        archives where a row per document would take hours; the CLI is the
//        one built beside it)
#include "bench/BenchArchive.h"
#include "database/access/Schema.h"
#include "database/CDatabase.h"
#include "shell/ReportList.h"
#include "shell/frmMain.h"
#include "support/engine/Connection.h"
#include "windows/MessageBoxes.h"

#include <QApplication>
#include <QStatusBar>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace qx;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_window_check: %s\n", what.c_str());
    std::exit(8);
}

// Removes the data rows of every `every`th document ID from each sub
// database: the normal check lists each such document once.
void RemoveDataRows(const SampleManifest& m, long every) {
    for (const SampleSubDatabase& s : m.subDatabases) {
        if (!s.fileWritten) continue;
        engine::Connection cn(qx::RealEnv());
        if (!cn.open(CDatabase::ConnectString(s.path, PasswordForGeneration(8)))) Fail("could not open " + s.path);
        sql::Error err;
        const std::string sql = "DELETE FROM PICTURES WHERE ID % " + std::to_string(every) + " = 0";
        if (!cn.database().exec(sql, &err)) Fail(sql + ": " + err.message);
    }
}

void CopyArchive(const std::string& from, const std::string& to) {
    fs::remove_all(to);
    fs::copy(from, to, fs::copy_options::recursive);
}

std::string Beside(const std::string& dir, const std::string& mainDatabase) {
    return dir + "/" + fs::path(mainDatabase).filename().string();
}

// Best of `runs` on fresh copies: quillex-cli check --normal --no, open included.
double CliSeconds(const std::string& cli, const SampleManifest& m, const std::string& work, int runs) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        CopyArchive(m.directory, work + "/cli");
        const std::string cmd =
            "'" + cli + "' check --normal --no '" + Beside(work + "/cli", m.mainDatabase) + "' >/dev/null 2>&1";
        const auto t0 = Clock::now();
        const int rc = std::system(cmd.c_str());
        best = std::min(best, Seconds(t0));
        if (rc == -1) Fail("could not run " + cli);
    }
    return best;
}

struct WindowRun {
    double open = 0, check = 0;
    int rows = 0;
};

// The window shown, the archive opened as the menu does, then
// Database > Controleren > Normaal from the menu.
WindowRun WindowSeconds(const SampleManifest& m, const std::string& work) {
    CopyArchive(m.directory, work + "/window");
    WindowRun run;
    frmMain w;
    w.show();
    QCoreApplication::processEvents();
    const auto t0 = Clock::now();
    w.OpenDatabaseFile(Beside(work + "/window", m.mainDatabase));
    run.open = Seconds(t0);
    const auto t1 = Clock::now();
    w.miCheckSub[1]->trigger();
    run.check = Seconds(t1);
    run.rows = w.lvDocuments->RowCount();
    w.close();
    return run;
}

void Compare(const char* what, const SampleManifest& m, const std::string& cli, const std::string& work) {
    const double c = CliSeconds(cli, m, work, 3);
    WindowRun best{0, 1e9, 0};
    for (int i = 0; i < 3; ++i) {
        const WindowRun r = WindowSeconds(m, work);
        if (r.open + r.check < best.open + best.check) best = r;
    }
    const double total = best.open + best.check;
    std::printf("  %-26s rows %6d  cli %6.2f s   window %6.2f s (open %.2f + check %.2f) = %.2fx (goal: at most 1.5x)\n",
                what, best.rows, c, total, best.open, best.check, total / c);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The product's settings (last archive) go into a throw-away folder.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    // Every question gets the safe answer, as --no gives it on the command line.
    SetMessageBoxAnswerer([](const MessageBoxRequest& r) { return NullWindow::SafeAnswer(r.buttons); });

    std::string work = "/var/tmp/quillex-bench/window";
    long documents = 50000;
    if (argc > 1) work = argv[1];
    if (argc > 2) documents = std::atol(argv[2]);
    const int cases = argc > 3 ? std::atoi(argv[3]) : 3;
    const std::string cli = QX_CLI_PATH;
    std::printf("Window check benchmark, %ld documents, work folder %s\n", documents, work.c_str());

    SampleOptions o = bench::SampleFor(work + "/archive", documents);
    o.documentSize = 256;
    SampleManifest m = bench::WriteFresh(o);
    Compare("no damage", m, cli, work);
    if (cases >= 2) {
        RemoveDataRows(m, 10);
        Compare("every 10th data row gone", m, cli, work);
    }
    if (cases >= 3) {
        RemoveDataRows(m, 1);
        Compare("every data row gone", m, cli, work);
    }
    fs::remove_all(work);
    return 0;
}
