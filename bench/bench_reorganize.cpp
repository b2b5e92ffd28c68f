// Reorganizing an archive: the speed of the move against the engine's own
// keyed `INSERT … SELECT` of the same rows, the whole run against the engine
// doing the whole job (merge, re-point, retire, export), the growth of its time with the
// data moved, and the peak memory of the command for one document of 10 MB
// against one of nearly the engine's maximum value length.
//
//   bench_reorganize [--quick] [--rounds N] [--only speed|linear|memory] [work-folder]
//
// Every archive is a sample of two sub databases whose first one is emptied
// (and vacuumed), so that a run moves exactly the rows of the second one
// into the first and the destination starts in the same state on both
// sides. Each run starts from a fresh copy of the archive, synced, so the
// source lies in the page cache on both sides. "Move" is the time during
// which the run's Cancel button is enabled: the batches, and the source
// switch that retires the emptied file; the compactions before and after
// (Cancel disabled) are timed apart as the rest of the run. The machine's
// other load stretches wall times; the process's CPU time is printed beside
// them. The peak memory is the command's own (run as a child), and then the
// same run's inside this process taken apart into the move and the rest.
#include "bench/BenchArchive.h"
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/engine/Cipher.h"
#include "support/engine/Connection.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace qx;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// CPU time of this process: beside the wall time, what the machine's other
// load does not stretch.
double Cpu() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_reorganize: %s\n", what.c_str());
    std::exit(8);
}

void Exec(sql::Database& db, const std::string& text) {
    sql::Error err;
    if (!db.exec(text, &err)) Fail(text.substr(0, 80) + ": " + err.message);
}

sql::Database Open(const std::string& path, const std::string& password) {
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(password), sql::OpenMode::ReadWrite, err);
    if (!db.isOpen()) Fail(path + ": " + err.message);
    return db;
}

std::int64_t Scalar(sql::Database& db, const std::string& text) {
    sql::Statement st(db, text);
    if (st.step() != sql::Step::Row) Fail(text + ": " + st.error().message);
    return st.isNull(0) ? 0 : st.getInt64(0);
}

struct Stats {
    double median = 0, low = 0, high = 0;
};

Stats Of(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return {n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2, v.front(), v.back()};
}

double LoadAverage() {
    double load = 0;
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = 0;
        std::fclose(f);
    }
    return load;
}

// A sample archive of two sub databases; the first is emptied so that the
// whole second one moves into it. `moved` is the bytes of the second one's values.
struct Prepared {
    std::string folder, main, name;
    std::string password;
    std::int64_t moved = 0;
    long rows = 0;
};

Prepared Prepare(const std::string& folder, long documents, long documentSize) {
    SampleOptions o = bench::SampleFor(folder, documents);
    o.subDatabases = 2;
    o.documentSize = documentSize;
    const SampleManifest m = bench::WriteFresh(o);
    Prepared p;
    p.folder = folder;
    p.main = m.mainDatabase;
    p.name = fs::path(m.mainDatabase).filename().string();
    p.password = PasswordForGeneration(o.generation);
    {
        sql::Database first = Open(SubDatabaseName(p.main, 1), p.password);
        Exec(first, "DELETE FROM PICTURES");
        Exec(first, "VACUUM");
    }
    sql::Database second = Open(SubDatabaseName(p.main, 2), p.password);
    p.moved = Scalar(second, "SELECT sum(length(PICTURE)) FROM PICTURES");
    p.rows = static_cast<long>(Scalar(second, "SELECT count(*) FROM PICTURES"));
    return p;
}

// A fresh copy of the prepared archive, on disk and in the page cache.
std::string FreshCopy(const Prepared& p, const std::string& run) {
    fs::remove_all(run);
    fs::create_directories(run);
    for (const auto& e : fs::directory_iterator(p.folder))
        if (e.is_regular_file() && e.path().extension() != ".log") fs::copy_file(e.path(), fs::path(run) / e.path().filename());
    const std::string main = (fs::path(run) / p.name).string();
    {
        // The stored paths name the files of the copy.
        sql::Database db = Open(main, p.password);
        for (long n : {1, 2})
            Exec(db, "UPDATE DATABASES SET DATABASE = '" + SubDatabaseName(main, n) + "' WHERE ID = " +
                         std::to_string(n));
    }
    ::sync();
    return main;
}

// This process's peak RSS in kB since the last ResetPeak() (VmHWM).
long PeakKb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// Sets the peak back to the present RSS (Linux 4.0 and later).
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Times the phases of a reorganize by the state of its Cancel button, and
// keeps the peak RSS of each kind of phase.
class TimingWindow : public NullWindow {
public:
    double moving = 0, movingCpu = 0;
    long movePeakKb = 0, otherPeakKb = 0;
    void ReorganizeSetCancelEnabled(bool on) override {
        const auto now = Clock::now();
        const double cpu = Cpu();
        (m_enabled ? movePeakKb : otherPeakKb) = std::max(m_enabled ? movePeakKb : otherPeakKb, PeakKb());
        ResetPeak();
        if (m_enabled) moving += std::chrono::duration<double>(now - m_since).count(), movingCpu += cpu - m_sinceCpu;
        m_enabled = on;
        m_since = now;
        m_sinceCpu = cpu;
    }
    void ReorganizeHide() override {
        ReorganizeSetCancelEnabled(false);
        NullWindow::ReorganizeHide();
    }

private:
    bool m_enabled = false;
    Clock::time_point m_since;
    double m_sinceCpu = 0;
};

struct OurRun {
    double whole = 0, move = 0, moveCpu = 0;
    long startKb = 0, movePeakKb = 0, otherPeakKb = 0;
};

OurRun Ours(const Prepared& p, const std::string& run) {
    const std::string main = FreshCopy(p, run);
    Settings::Get().DatabasePassword = p.password;
    Settings::Get().LogFileName = run + "/Bench.log";
    TimingWindow window;
    window.state.m_sDatabaseName = main;
    CDatabase database(window, qx::RealEnv());
    if (!database.OpenDatabase(CDatabase::ConnectString(main, p.password))) Fail("the archive does not open");
    ResetPeak();
    const long startKb = PeakKb();
    const auto t0 = Clock::now();
    database.Reorganize();
    OurRun r{Seconds(t0), window.moving, window.movingCpu, startKb, window.movePeakKb, window.otherPeakKb};
    if (!database.m_sReorganizeStop.empty()) Fail("reorganize stopped: " + database.m_sReorganizeStop);
    if (fs::exists(SubDatabaseName(main, 2))) Fail("the second sub database was not emptied; see " + run + "/Bench.log");
    return r;
}

// The yardstick: the same rows copied by the engine in one transaction
// from the keyed source attached to the keyed destination; the commit
// syncs the destination and its journal, as each of our batches does.
double Reference(const Prepared& p, const std::string& run, double& cpu, bool fresh = true) {
    const std::string main = fresh ? FreshCopy(p, run) : (fs::path(run) / p.name).string();
    const std::string dst = SubDatabaseName(main, 1), src = SubDatabaseName(main, 2);
    const std::string key = sql::RawKeyFor(engine::PasswordBytes(p.password));
    const auto t0 = Clock::now();
    const double cpu0 = Cpu();
    sql::Database db = Open(dst, p.password);
    // ATTACH reads the file at once: the page size must be the default
    // before it (and is put back after, as the default is the process's).
    Exec(db, "PRAGMA cipher_default_page_size = " + std::to_string(sql::kCipherPageSize));
    Exec(db, "ATTACH DATABASE '" + src + "' AS s KEY \"" + key + "\"");
    Exec(db, "PRAGMA cipher_default_page_size = 1024");
    Exec(db, "BEGIN");
    Exec(db, "INSERT INTO main.PICTURES SELECT * FROM s.PICTURES");
    Exec(db, "COMMIT");
    const double s = Seconds(t0);
    cpu = Cpu() - cpu0;
    if (Scalar(db, "SELECT count(*) FROM main.PICTURES") != p.rows) Fail("the reference copied the wrong rows");
    return s;
}

void SyncPath(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0 || ::fsync(fd) != 0) Fail("fsync " + path);
    ::close(fd);
}

// The engine's own copy of `path` into a fresh file (sqlcipher_export, keyed
// or plain as the file is), synced, put in its place.
void EngineExport(const std::string& path, const std::string& password) {
    const std::string copy = path + ".export";
    fs::remove(copy);
    // Our connections do not create files: the copy starts as an empty one.
    std::ofstream{copy};
    if (password.empty()) {
        sql::Database db = Open(path, "");
        const std::int64_t pageSize = Scalar(db, "PRAGMA page_size");
        Exec(db, "ATTACH DATABASE '" + copy + "' AS c KEY ''");
        Exec(db, "PRAGMA c.page_size = " + std::to_string(pageSize));
        Exec(db, "SELECT sqlcipher_export('c')");
        Exec(db, "DETACH DATABASE c");
    } else {
        const std::string key = sql::RawKeyFor(engine::PasswordBytes(password));
        sql::Database db = Open(path, password);
        Exec(db, "ATTACH DATABASE '" + copy + "' AS c KEY \"" + key + "\"");
        Exec(db, "PRAGMA c.cipher_page_size = " + std::to_string(sql::kCipherPageSize));
        Exec(db, "SELECT sqlcipher_export('c')");
        Exec(db, "DETACH DATABASE c");
    }
    SyncPath(copy);
    fs::rename(copy, path);
    SyncPath(fs::path(path).parent_path().string());
}

// The whole job done by the engine: the rows merged into the first sub
// database (as Reference), the documents re-pointed and the second one
// taken off the list in the main database, the second file retired under
// another name, and the main and OCR databases exported (our run compacts
// them at its end). Every step ends durable, as ours do.
double WholeJob(const Prepared& p, const std::string& run, double& cpu) {
    const std::string main = FreshCopy(p, run);
    const std::string src = SubDatabaseName(main, 2);
    const auto t0 = Clock::now();
    const double cpu0 = Cpu();
    double mergeCpu = 0;
    Reference(p, run, mergeCpu, false);
    {
        sql::Database db = Open(main, p.password);
        Exec(db, "BEGIN");
        Exec(db, "UPDATE FOLDERS SET DATABASEID = 1 WHERE DATABASEID = 2");
        Exec(db, "DELETE FROM DATABASES WHERE ID = 2");
        Exec(db, "COMMIT");
    }
    fs::rename(src, src + ".obsolete");
    SyncPath(run);
    EngineExport(main, p.password);
    if (fs::exists(OmdName(main))) EngineExport(OmdName(main), "");
    cpu = Cpu() - cpu0;
    return Seconds(t0);
}

double MBs(std::int64_t bytes, double seconds) { return bytes / 1048576.0 / seconds; }

void Speed(const std::string& work, bool quick, int rounds) {
    std::printf("\n== speed: reorganize against the engine's keyed INSERT ... SELECT and the engine doing the whole job (%d pairs, order alternating)\n",
                rounds);
    struct Case {
        long documentSize;
        long movedMb;
    };
    const Case cases[] = {{1024, quick ? 20 : 150}, {200 * 1024, quick ? 60 : 300}};
    for (const Case& c : cases) {
        const long documents = std::max<long>(4, c.movedMb * 2 * 1048576 / c.documentSize);
        std::printf("documents of %ld bytes, about %ld MB moved:\n", c.documentSize, c.movedMb);
        const Prepared p = Prepare(work + "/speed", documents, c.documentSize);
        std::printf("  %ld rows, %.1f MB of values in the second sub database\n", p.rows, p.moved / 1048576.0);
        std::vector<double> whole, move, ref, ratio, job, jobRatio;
        for (int r = 0; r < rounds; ++r) {
            double reference = 0, referenceCpu = 0, engineJob = 0, engineJobCpu = 0;
            OurRun ours;
            const double load = LoadAverage();
            if (r % 2 == 0) {
                engineJob = WholeJob(p, work + "/run", engineJobCpu);
                reference = Reference(p, work + "/run", referenceCpu);
                ours = Ours(p, work + "/run");
            } else {
                ours = Ours(p, work + "/run");
                reference = Reference(p, work + "/run", referenceCpu);
                engineJob = WholeJob(p, work + "/run", engineJobCpu);
            }
            std::printf("  pair %d (%s first, load %.1f): engine copy %.2f s (cpu %.2f s), engine whole job %.2f s "
                        "(cpu %.2f s), reorganize %.2f s, move %.2f s (cpu %.2f s) -> whole %.2fx, move speed %.2fx\n",
                        r + 1, r % 2 == 0 ? "engine" : "reorganize", load, reference, referenceCpu, engineJob,
                        engineJobCpu, ours.whole, ours.move, ours.moveCpu, ours.whole / engineJob,
                        reference / ours.move);
            ref.push_back(MBs(p.moved, reference));
            whole.push_back(MBs(p.moved, ours.whole));
            move.push_back(MBs(p.moved, ours.move));
            job.push_back(MBs(p.moved, engineJob));
            ratio.push_back(reference / ours.move);
            jobRatio.push_back(ours.whole / engineJob);
        }
        const Stats e = Of(ref), w = Of(whole), m = Of(move), q = Of(ratio), j = Of(job), jr = Of(jobRatio);
        std::printf("  engine INSERT...SELECT + commit : median %6.1f MB/s (%.1f - %.1f)\n", e.median, e.low, e.high);
        std::printf("  engine whole job                : median %6.1f MB/s (%.1f - %.1f)\n", j.median, j.low, j.high);
        std::printf("  reorganize, move only           : median %6.1f MB/s (%.1f - %.1f)\n", m.median, m.low, m.high);
        std::printf("  reorganize, whole run           : median %6.1f MB/s (%.1f - %.1f)\n", w.median, w.low, w.high);
        std::printf("  move speed / engine speed       : median %6.2f  (%.2f - %.2f; goal >= 0.5)\n", q.median, q.low,
                    q.high);
        std::printf("  whole run / engine whole job    : median %6.2fx (%.2f - %.2f; goal <= 1.1x)\n", jr.median,
                    jr.low, jr.high);
        fs::remove_all(work + "/speed");
        fs::remove_all(work + "/run");
    }
}

void Linear(const std::string& work, bool quick, int rounds) {
    std::printf("\n== linearity: time per MB moved (%d rounds, sizes in rotating order)\n", rounds);
    const long documentSize = 200 * 1024;
    const std::vector<long> sizes = quick ? std::vector<long>{25, 50, 100} : std::vector<long>{100, 200, 400};
    std::vector<Prepared> prepared;
    for (long mb : sizes) {
        std::printf("about %ld MB moved, documents of %ld bytes:\n", mb, documentSize);
        prepared.push_back(Prepare(work + "/linear" + std::to_string(mb), mb * 2 * 1048576 / documentSize, documentSize));
    }
    std::vector<std::vector<double>> move(sizes.size()), whole(sizes.size());
    for (int r = 0; r < rounds; ++r)
        for (std::size_t k = 0; k < sizes.size(); ++k) {
            const std::size_t i = (k + static_cast<std::size_t>(r)) % sizes.size();
            const OurRun o = Ours(prepared[i], work + "/run");
            move[i].push_back(o.move / (prepared[i].moved / 1048576.0) * 1000);
            whole[i].push_back(o.whole / (prepared[i].moved / 1048576.0) * 1000);
        }
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const Stats m = Of(move[i]), w = Of(whole[i]);
        std::printf("  %7.1f MB moved: move %5.2f ms/MB (%.2f - %.2f), whole run %5.2f ms/MB (%.2f - %.2f)\n",
                    prepared[i].moved / 1048576.0, m.median, m.low, m.high, w.median, w.low, w.high);
        fs::remove_all(prepared[i].folder);
    }
    fs::remove_all(work + "/run");
}

// The engine's maximum length of a value, as its shell reports it.
std::int64_t EngineLengthLimit() {
    std::FILE* f = ::popen("echo .limit length | sqlcipher :memory:", "r");
    if (!f) Fail("the sqlcipher shell does not start");
    char line[256] = {};
    std::int64_t limit = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::strstr(line, "length")) limit = std::atoll(std::strchr(line, 'h') + 1);
    ::pclose(f);
    if (limit <= 0) Fail("the engine's length limit is unknown");
    return limit;
}

// The second sub database made to hold exactly one document of `size`
// bytes (of its own, random), written piece by piece.
void OneDocument(const Prepared& p, std::int64_t size) {
    sql::Database db = Open(SubDatabaseName(p.main, 2), p.password);
    const std::int64_t id = Scalar(db, "SELECT max(ID) FROM PICTURES");
    Exec(db, "DELETE FROM PICTURES WHERE ID <> " + std::to_string(id));
    {
        // The documents whose data went no longer name the file, which the run can then retire.
        sql::Database main = Open(p.main, p.password);
        Exec(main, "UPDATE FOLDERS SET DATABASEID = 1 WHERE DATABASEID = 2 AND ID <> " + std::to_string(id));
    }
    Exec(db, "UPDATE PICTURES SET PICTURE = zeroblob(" + std::to_string(size) + ") WHERE ID = " + std::to_string(id));
    sql::Error err;
    sql::Blob blob = sql::Blob::open(db, "PICTURES", "PICTURE", id, true, err);
    if (!blob.isOpen()) Fail("blob: " + err.message);
    std::vector<std::uint8_t> piece(1 << 20);
    std::mt19937_64 rng(size);
    for (std::int64_t at = 0; at < size; at += static_cast<std::int64_t>(piece.size())) {
        for (std::size_t i = 0; i + 8 <= piece.size(); i += 8) {
            const std::uint64_t v = rng();
            std::memcpy(piece.data() + i, &v, 8);
        }
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(piece.size(), size - at));
        if (!blob.write(at, std::span(piece.data(), n), &err)) Fail("blob write: " + err.message);
    }
}

struct CliRun {
    long peakKb = 0;
    double seconds = 0;
};

// `quillex-cli reorganize` under /usr/bin/time, whose own wait reports the
// command's peak RSS alone (a child forked from this process would carry
// this process's peak into its own figure).
CliRun Cli(const std::string& main, const std::string& run) {
    const std::string out = run + "/time.txt";
    const auto t0 = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        ::execl("/usr/bin/time", "time", "-f", "%M", "-o", out.c_str(), QX_CLI_PATH, "reorganize", main.c_str(),
                "--yes", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    CliRun r;
    r.seconds = Seconds(t0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("quillex-cli reorganize failed; see " + run);
    std::ifstream in(out);
    in >> r.peakKb;
    return r;
}

// Peak RSS hardly varies from run to run: two runs each, to spare the disk.
void Memory(const std::string& work, bool quick, int rounds) {
    rounds = std::min(rounds, 2);
    const std::int64_t limit = EngineLengthLimit();
    const std::int64_t large = quick ? 200'000'000 : limit - 1000;
    std::printf("\n== memory: peak RSS of quillex-cli reorganize, one document in the second sub database "
                "(engine's value limit %lld bytes; %d runs each)\n",
                static_cast<long long>(limit), rounds);
    const std::int64_t sizes[] = {1024, 10'000'000, large};
    std::vector<long> peaks;
    for (std::int64_t size : sizes) {
        Prepared p = Prepare(work + "/memory", 4, 1024);
        OneDocument(p, size);
        std::vector<double> kb, seconds;
        for (int r = 0; r < rounds; ++r) {
            const std::string main = FreshCopy(p, work + "/run");
            const CliRun c = Cli(main, work + "/run");
            sql::Database first = Open(SubDatabaseName(main, 1), p.password);
            if (Scalar(first, "SELECT max(length(PICTURE)) FROM PICTURES") != size) Fail("the document did not move whole");
            kb.push_back(c.peakKb);
            seconds.push_back(c.seconds);
        }
        const Stats k = Of(kb), s = Of(seconds);
        peaks.push_back(static_cast<long>(k.median));
        std::printf("  document of %13lld bytes: peak RSS median %6.1f MB (%.1f - %.1f), run %.1f s (%.1f - %.1f)\n",
                    static_cast<long long>(size), k.median / 1024, k.low / 1024, k.high / 1024, s.median, s.low,
                    s.high);
        // The same run inside this process, its peak taken apart by phase.
        const OurRun o = Ours(p, work + "/run");
        std::printf("    in this process, above its RSS at the start: move %+.1f MB, compactions and the rest %+.1f MB\n",
                    (o.movePeakKb - o.startKb) / 1024.0, (o.otherPeakKb - o.startKb) / 1024.0);
        fs::remove_all(work + "/memory");
        fs::remove_all(work + "/run");
    }
    std::printf("  above the 1 KB baseline: 10 MB document %+.1f MB, %lld-byte document %+.1f MB\n",
                (peaks[1] - peaks[0]) / 1024.0, static_cast<long long>(large), (peaks[2] - peaks[0]) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    int rounds = 3;
    std::string only, work = (fs::temp_directory_path() / "quillex-bench-reorganize").string();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) only = argv[++i];
        else work = (fs::path(argv[i]) / "reorganize").string();
    }
    fs::remove_all(work);
    fs::create_directories(work);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("machine: %ld cores, load %.1f at the start\n", ::sysconf(_SC_NPROCESSORS_ONLN), LoadAverage());
    if (only.empty() || only == "memory") Memory(work, quick, rounds);
    if (only.empty() || only == "speed") Speed(work, quick, rounds);
    if (only.empty() || only == "linear") Linear(work, quick, rounds);
    fs::remove_all(work);
    return 0;
}
