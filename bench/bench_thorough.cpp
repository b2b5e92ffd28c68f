// Speed of the thorough check:
//   imported (non-graphical) documents: the check's storage-format test
//   against the engine's own full read of the same values (every byte of
//   every PICTURE read, not only its length);
//   scanned pages: the check against a yardstick, the same images read out
//   first and decoded from memory by the same loader on a pool of every
//   core (paired runs, medians); documents per second and cores busy;
//   images that declare 30000x30000 pixels among the documents: the peak
//   memory of the check (each check in a child process of its own) against
//   the same archive without them; a TIFF of 30,000 one-pixel pages: the
//   decode time, and how late a Cancel takes effect.
// Usage: bench_thorough [work-folder] [--quick]   (--quick: 10x fewer documents)
// QX_BENCH_IMAGES_ONLY=1: the graphical documents' part alone;
// QUILLEX_DECODE_WORKERS=n: n workers for the check and the yardstick.
#include "bench/BenchArchive.h"
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/access/OpenArchive.h"
#include "database/access/Schema.h"
#include "support/ImageLoader.h"
#include "support/Settings.h"
#include "support/engine/Connection.h"
#include "tools/sample/SampleContent.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

using namespace qx;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// An archive of `documents` imported PDFs of about `size` bytes each, all
// stored correctly, in one sub database.
std::string ImportedArchive(const std::string& dir, long documents, long size) {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string main = dir + "/Archief.dat", pwd = PasswordForGeneration(8);
    sql::Error err;
    if (!CreateMainDatabase(qx::RealEnv(), main, 8, err) || !CreateSubDatabaseFile(qx::RealEnv(), SubDatabaseName(main, 1), pwd, err) ||
        !CreateOmdDatabase(qx::RealEnv(), OmdName(main), err)) {
        std::fprintf(stderr, "%s\n", err.message.c_str());
        std::exit(8);
    }
    sample::Template pdf;
    std::string error;
    sample::RenderTemplate(sample::ContentKind::Pdf, size, 0, pdf, error);
    sql::Database m = sql::Database::open(qx::RealEnv(), main, engine::PasswordBytes(pwd), sql::OpenMode::ReadWrite, err);
    sql::Database s = sql::Database::open(qx::RealEnv(), SubDatabaseName(main, 1), engine::PasswordBytes(pwd), sql::OpenMode::ReadWrite, err);
    m.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (1, NULL, -1, 'Map');"
           "INSERT INTO DATABASES (ID, DATABASE) VALUES (1, '" + SubDatabaseName(main, 1) + "')");
    sql::Transaction tm(m), ts(s);
    sql::Statement doc(m, "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID, TEMPLATE1) VALUES (?, 1, 0, ?, 1, 'PDF')");
    sql::Statement data(s, "INSERT INTO PICTURES (ID, PICTURE) VALUES (?, ?)");
    for (long id = 2; id < documents + 2; ++id) {
        doc.bind(1, static_cast<std::int64_t>(id));
        doc.bind(2, std::string_view("Document " + std::to_string(id)));
        doc.run();
        data.bind(1, static_cast<std::int64_t>(id));
        data.bindBlob(2, pdf.stamp(id));
        data.run();
    }
    tm.commit(), ts.commit();
    return main;
}

// The engine's own full read: every document row, every stored byte.
double FullRead(const std::string& main) {
    const auto t0 = Clock::now();
    std::uint64_t sum = 0;
    auto scan = [&](const std::string& path, const char* text, int blobColumn) {
        engine::Connection cn(qx::RealEnv());
        cn.open(CDatabase::ConnectString(path, PasswordForGeneration(8)));
        sql::Statement st(cn.database(), text);
        while (st.step() == sql::Step::Row)
            if (blobColumn >= 0)
                for (std::uint8_t b : st.getBlob(blobColumn)) sum += b;
    };
    scan(main, "SELECT ID, NAME, TEMPLATE1, DATABASEID FROM FOLDERS", -1);
    scan(SubDatabaseName(main, 1), "SELECT ID, PICTURE FROM PICTURES", 1);
    const double t = Since(t0);
    if (sum == 42) std::puts("");  // keeps the sum alive
    return t;
}

double Thorough(const std::string& main) {
    NullWindow window;
    CDatabase db(window, qx::RealEnv());
    if (OpenDatabaseFile(db, main) != OpenOutcome::Opened) {
        std::fprintf(stderr, "could not open %s\n", main.c_str());
        std::exit(8);
    }
    Settings::Get().LogFileName.clear();
    window.state.m_nDamaged = window.state.m_nFixed = 0;
    short flags = 319 & ~32;  // the document walk alone
    const auto t0 = Clock::now();
    db.Analyse(flags);
    const double t = Since(t0);
    if (window.state.m_nDamaged > 0) std::printf("  unexpected findings: %ld\n", window.state.m_nDamaged);
    return t;
}

// A window that decodes what the check hands it, as the terminal does;
// `ahead`: it lets the check decode on worker threads.
class DecodingWindow : public NullWindow {
public:
    explicit DecodingWindow(bool ahead) : m_ahead(ahead) {}
    int LoadImage(const std::vector<std::uint8_t>& data) override { return LoadImageStatus(data); }
    bool LoadsWithoutDisplay() const override { return m_ahead; }

private:
    bool m_ahead;
};

double ProcessCpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct Timed {
    double wall = 0, cpu = 0;  // seconds; the process's CPU time over the same span
};

Timed ImageCheck(const SampleManifest& m, bool ahead) {
    DecodingWindow window(ahead);
    CDatabase db(window, qx::RealEnv());
    OpenDatabaseFile(db, m.mainDatabase);
    Settings::Get().LogFileName.clear();
    short flags = 319 & ~32;
    const double c0 = ProcessCpu();
    const auto t0 = Clock::now();
    db.Analyse(flags);
    const Timed t{Since(t0), ProcessCpu() - c0};
    if (window.state.m_nDamaged > 0) std::printf("  unexpected findings: %ld\n", window.state.m_nDamaged);
    return t;
}

// The check of `m` in a child process; its peak resident memory in MB and
// the check's seconds.
std::pair<double, double> CheckInChild(const SampleManifest& m) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return {0, 0};
    const pid_t child = fork();
    if (child == 0) {
        const double t = ImageCheck(m, true).wall;
        (void)!write(pipeEnds[1], &t, sizeof t);
        _exit(0);
    }
    double seconds = 0;
    (void)!read(pipeEnds[0], &seconds, sizeof seconds);
    close(pipeEnds[0]), close(pipeEnds[1]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return {usage.ru_maxrss / 1024.0, seconds};
}

void Bombs(const std::string& work, long scale) {
    std::printf("images declaring 30000x30000 pixels among the documents, every image decoded\n");
    for (const bool bombs : {false, true}) {
        SampleOptions o = bench::SampleFor(work + "/thorough-bombs", 2000 / scale);
        o.documentSize = 60000;
        if (bombs) o.faults = {"oversized-images"};
        const SampleManifest m = bench::WriteFresh(o);
        const auto [mb, seconds] = CheckInChild(m);
        std::printf("  %s: peak resident memory of the check %.0f MB, %.2f s\n",
                    bombs ? "with a baseline JPEG, a progressive JPEG and a PNG each declaring 30000x30000"
                          : "the same archive without them",
                    mb, seconds);
    }
    for (int variant = 0; variant < 3; ++variant) {
        const auto bytes = sample::OversizedImage(variant, 30000);
        const auto t0 = Clock::now();
        const ImageLoad load = LoadDocumentImage(bytes);
        std::printf("  %s of %zu bytes: refused in %.3f ms (%s)\n",
                    variant == 0 ? "baseline JPEG" : variant == 1 ? "progressive JPEG" : "PNG", bytes.size(),
                    Since(t0) * 1000, load.why.c_str());
    }
    std::filesystem::remove_all(work + "/thorough-bombs");

    std::printf("\nmulti-page TIFF of one-pixel pages\n");
    for (const int pages : {2000, 8000, 30000}) {
        const auto tiff = sample::MultipageTiff(pages, 1, 1, 1);
        const auto t0 = Clock::now();
        const ImageLoad load = LoadDocumentImage(tiff);
        const double whole = Since(t0);
        std::atomic<bool> stop{false};
        Clock::time_point stopped;
        double late = 0;
        std::thread decode([&] {
            LoadDocumentImage(tiff, false, &stop);
            late = Since(stopped);
        });
        std::this_thread::sleep_for(std::chrono::duration<double>(whole / 4));
        stopped = Clock::now();
        stop = true;
        decode.join();
        std::printf("  %5d pages (%zu KB): %d pages decoded in %.3f s; a stop a quarter of the way in took effect "
                    "%.1f ms later\n",
                    pages, tiff.size() / 1024, load.pages, whole, late * 1000);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string work = "/var/tmp/quillex-bench";
    long scale = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) scale = 10;
        else work = argv[i];
    }
    std::printf("Thorough check benchmark, work folder %s\n\n", work.c_str());
    // For profiling the decode: the graphical documents alone.
    const bool imagesOnly = std::getenv("QX_BENCH_IMAGES_ONLY") != nullptr;
    // First, while the process is small: the children it forks start from it.
    if (!imagesOnly) Bombs(work, scale);
    if (std::getenv("QX_BENCH_LIMITS_ONLY")) return 0;

    if (!imagesOnly) std::printf("imported documents (PDF), storage format tested\n");
    for (long size : {4096L, 65536L}) {
        if (imagesOnly) break;
        const long documents = (size == 4096 ? 100000 : 20000) / scale;
        const std::string main = ImportedArchive(work + "/thorough-pdf", documents, size);
        const double check = Thorough(main);
        const double read = FullRead(main);
        std::printf("  %6ld documents of %3ld KB: check %.2f s (%.0f documents/s, %.0f MB/s); the engine's full read "
                    "%.2f s; check speed %.2fx the read's (goal: at least 0.7x)\n",
                    documents, size / 1024, check, documents / check, documents * size / 1048576.0 / check, read,
                    read / check);
    }
    std::filesystem::remove_all(work + "/thorough-pdf");
    if (std::getenv("QX_BENCH_PDF_ONLY")) return 0;  // for profiling the storage-format path

    std::printf("\nscanned pages and photographs (sample archive), every image decoded\n");
    SampleOptions o = bench::SampleFor(work + "/thorough-images", 4000 / scale);
    o.documentSize = 60000;
    const SampleManifest m = bench::WriteFresh(o);
    // The images' bytes, read out first: the yardstick decodes them from
    // memory, without the database.
    std::vector<Bytes> all;
    for (const SampleSubDatabase& s : m.subDatabases) {
        engine::Connection cn(qx::RealEnv());
        if (!s.fileWritten || !cn.open(CDatabase::ConnectString(s.path, PasswordForGeneration(8)))) continue;
        sql::Statement st(cn.database(), "SELECT PICTURE FROM PICTURES");
        while (st.step() == sql::Step::Row) {
            Bytes b = st.getBlob(0);
            if (b.size() > 4 && std::memcmp(b.data(), "%PDF", 4) == 0) continue;
            all.push_back(std::move(b));
        }
    }
    const long images = static_cast<long>(all.size());
    const int workers = DecodeWorkers();
    const Timed sequential = ImageCheck(m, false);
    Timed oneThread;
    {
        const double c0 = ProcessCpu();
        const auto t0 = Clock::now();
        for (const Bytes& b : all) LoadImageStatus(b);
        oneThread = {Since(t0), ProcessCpu() - c0};
    }
    // The yardstick: the same loader on a pool of every core, every image
    // handed out at once.
    const auto yardstick = [&] {
        const double c0 = ProcessCpu();
        const auto t0 = Clock::now();
        ImageDecodePool pool(workers);
        std::vector<std::future<ImageLoad>> results;
        results.reserve(all.size());
        for (const Bytes& b : all) results.push_back(pool.submit(b));
        for (auto& r : results) r.get();
        return Timed{Since(t0), ProcessCpu() - c0};
    };
    // Paired and alternated, so that a change in the machine's load falls
    // on both sides of a pair.
    std::vector<Timed> checks, sticks;
    std::vector<double> ratios, cpuRatios;
    const int pairs = 5;
    for (int i = 0; i < pairs; ++i) {
        if (i % 2 == 0) checks.push_back(ImageCheck(m, true)), sticks.push_back(yardstick());
        else sticks.push_back(yardstick()), checks.push_back(ImageCheck(m, true));
        ratios.push_back(checks.back().wall / sticks.back().wall);
        cpuRatios.push_back(checks.back().cpu / sticks.back().cpu);
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const auto walls = [](const std::vector<Timed>& v) {
        std::vector<double> out;
        for (const Timed& t : v) out.push_back(t.wall);
        return out;
    };
    const auto busy = [](const std::vector<Timed>& v) {
        std::vector<double> out;
        for (const Timed& t : v) out.push_back(t.cpu / t.wall);
        return out;
    };
    const double checkWall = median(walls(checks)), stickWall = median(walls(sticks));
    std::printf("  %ld documents, %ld images; %d decode workers (%d cores available); %d pairs, medians\n",
                m.documentRows, images, workers, AvailableCores(), pairs);
    std::printf("  check, decoding on the check's thread: %.2f s (%.0f documents/s, %.2f cores busy)\n",
                sequential.wall, m.documentRows / sequential.wall, sequential.cpu / sequential.wall);
    std::printf("  the images decoded alone, one thread: %.2f s (%.0f images/s)\n", oneThread.wall,
                images / oneThread.wall);
    std::printf("  check, decoding ahead on %d workers: %.2f s (%.0f documents/s, %.2f cores busy)\n", workers,
                checkWall, m.documentRows / checkWall, median(busy(checks)));
    std::printf("  yardstick, the images decoded from memory on %d workers: %.2f s (%.0f images/s, %.2f cores busy)\n",
                workers, stickWall, images / stickWall, median(busy(sticks)));
    const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
    std::printf("  check / yardstick: %.2fx (pairs %.2f to %.2f; goal: at most 1.2x)\n", median(ratios), *low, *high);
    // The work each side does, whatever share of the cores the machine gave it.
    const auto [cpuLow, cpuHigh] = std::minmax_element(cpuRatios.begin(), cpuRatios.end());
    std::printf("  CPU time, check / yardstick: %.2fx (pairs %.2f to %.2f)\n", median(cpuRatios), *cpuLow, *cpuHigh);
    std::filesystem::remove_all(work + "/thorough-images");
    return 0;
}
