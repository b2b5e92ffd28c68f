// Speed of the multipage repairs (quillex-cli repair-multipage) on a generated
// archive with pages whose container is gone and pages whose container is no
// multipage document: the orphan repair and the renumbering of every
// multipage document, each timed on its own, and the whole command.
// Usage: bench_multipage [work-folder] [--quick]   (--quick: 10,000 instead of 100,000 documents)
#include "database/CDatabase.h"
#include "database/access/OpenArchive.h"
#include "support/Settings.h"
#include "bench/BenchArchive.h"
#include "tools/sample/SampleArchive.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

using namespace qx;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

SampleManifest Generate(const std::string& dir, long documents) {
    SampleOptions o = bench::SampleFor(dir, documents);
    o.subDatabases = 1;
    o.documentSize = 1024;
    o.faults = {"orphan-page-no-container", "orphan-page-container-not-mp"};
    return bench::WriteFresh(o);
}

}  // namespace

int main(int argc, char** argv) {
    std::string work = "/var/tmp/quillex-bench";
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        else work = argv[i];
    }
    const long documents = quick ? 10000 : 100000;
    std::printf("multipage repairs, %ld documents:\n", documents);
    const SampleManifest m = Generate(work + "/multipage", documents);

    NullWindow window;
    CDatabase db(window, qx::RealEnv());
    if (OpenDatabaseFile(db, m.mainDatabase) != OpenOutcome::Opened) {
        std::fprintf(stderr, "could not open %s\n", m.mainDatabase.c_str());
        return 8;
    }
    Settings::Get().LogFileName.clear();  // the log is not what is measured
    window.state.m_sSaveError.clear();
    auto t0 = Clock::now();
    db.CheckMultipageParentMissing();
    const double orphans = Since(t0);
    t0 = Clock::now();
    db.MultipageRenumberPages();
    const double renumber = Since(t0);
    std::printf("| orphan repair (CheckMultipageParentMissing) | %.3f s |\n", orphans);
    std::printf("| renumbering (MultipageRenumberPages) | %.3f s |\n", renumber);
    std::printf("| both | %.3f s — %.0f documents/s |\n", orphans + renumber, documents / (orphans + renumber));

    // The sample's pages are numbered already; numbered anew, every page row
    // and container is written, which is what the batches are for.
    if (!db.m_AdoCnMain->execute("UPDATE FOLDERS SET PAGE = 0 WHERE TEMPLATE1 LIKE 'MC%' OR TEMPLATE1 LIKE 'MP'")) {
        std::fprintf(stderr, "could not clear the page numbers\n");
        return 8;
    }
    t0 = Clock::now();
    db.MultipageRenumberPages();
    std::printf("| renumbering, every page row written anew (%ld page rows) | %.3f s |\n", m.pageRows, Since(t0));
    if (!window.state.m_sSaveError.empty()) {
        std::printf("  save failed: %s\n", window.state.m_sSaveError.c_str());
        return 8;
    }
    return 0;
}
