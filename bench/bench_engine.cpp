// Engine figures, each against a reference measured in the same run:
//   keyed open against a plain open,
//   streamed write/read of a large value against cp / cat of a file of the same size,
//   peak memory of streaming a 300 MB value (goal: under 64 MB),
//   page sizes: streaming speed against single-row size lookups.
// Usage: bench_engine [work-folder] [--quick]
#include "support/engine/Cipher.h"
#include "support/engine/Connection.h"
#include "support/engine/Dao.h"
#include "support/engine/Recordset.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace qx;
using namespace qx::engine;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kPwd = "\u00a9Pendrawix8";

double secondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

std::string Cs(const std::string& path, const std::string& pwd) {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";Jet OLEDB:Database Password=" + pwd;
}

void makePictures(const std::string& path, const std::string& pwd) {
    std::filesystem::remove(path);
    sql::Error err;
    sql::Database db = CreateDatabaseFile(qx::RealEnv(), path, pwd, err);
    TableDef t;
    t.name = "PICTURES";
    t.autoNumber("ID").field("path", FieldType::Memo).field("PICTURE", FieldType::LongBinary).index("PrimaryKey", {"ID"}, true);
    for (const std::string& s : CreateTableSql(t)) db.exec(s);
}

bool writeValue(Connection& cn, long id, std::int64_t size) {
    Recordset rs;
    rs.open("SELECT * FROM PICTURES WHERE ID = " + std::to_string(id), cn, CursorMode::Edit);
    rs.addNew();
    rs.setValue("ID", id);
    rs.setValueFromStream("PICTURE", size, [](std::int64_t off, std::span<std::uint8_t> into) {
        std::memset(into.data(), static_cast<int>(off >> 20) & 0xFF, into.size());
        return true;
    });
    return rs.update();
}

std::int64_t readValue(Connection& cn, long id) {
    Recordset rs;
    rs.open("SELECT * FROM PICTURES WHERE ID = " + std::to_string(id), cn, CursorMode::Scan);
    std::vector<std::uint8_t> buf(1 << 20);
    std::int64_t off = 0, sum = 0;
    while (std::int64_t n = rs.readChunk("PICTURE", off, buf)) {
        off += n;
        sum += buf[0];
    }
    return off + (sum & 0);
}

void fsyncFile(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb+");
    if (f) {
        ::fsync(fileno(f));
        std::fclose(f);
    }
}

long peakRssOfChild(const std::string& dir, std::int64_t size) {
    pid_t pid = fork();
    if (pid == 0) {
        const std::string path = dir + "/rss_1.pdb";
        makePictures(path, kPwd);
        Connection cn{qx::RealEnv()};
        cn.open(Cs(path, kPwd));
        bool ok = writeValue(cn, 1, size) && readValue(cn, 1) == size;
        std::filesystem::remove(path);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ru.ru_maxrss / 1024 : -1;
}

struct PageFigures {
    double streamMBs, randomLookupUs, sequentialLookupUs, autocommitLookupUs;
};

PageFigures measurePageSize(const std::string& dir, int pageSize, int docs, std::int64_t bigSize) {
    sql::OverrideCipherPageSizeForBenchmark(pageSize);
    const std::string path = dir + "/page_" + std::to_string(pageSize) + ".pdb";
    makePictures(path, kPwd);
    PageFigures f{};
    {
        Connection cn{qx::RealEnv()};
        cn.open(Cs(path, kPwd));
        sql::Database& db = cn.database();
        {
            sql::Transaction tx(db);
            sql::Statement ins(db, "INSERT INTO PICTURES (ID, PICTURE) VALUES (?, ?)");
            std::vector<std::uint8_t> doc(1024, 7);
            for (int i = 1; i <= docs; ++i) {
                ins.bind(1, std::int64_t(i));
                ins.bindBlob(2, doc);
                ins.run();
            }
            tx.commit();
        }
        writeValue(cn, docs + 1, bigSize);
    }
    Connection cn{qx::RealEnv()};  // fresh cache
    cn.open(Cs(path, kPwd));
    auto t0 = Clock::now();
    readValue(cn, docs + 1);
    f.streamMBs = double(bigSize) / (1 << 20) / secondsSince(t0);

    sql::Statement size(cn.database(), "SELECT length(PICTURE) FROM PICTURES WHERE ID = ?");
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> pick(1, docs);
    const int lookups = docs;
    // Each statement on its own pays for taking and checking the file lock.
    t0 = Clock::now();
    std::int64_t total = 0;
    for (int i = 0; i < lookups / 10; ++i) {
        size.bind(1, std::int64_t(pick(rng)));
        if (size.step() == sql::Step::Row) total += size.getInt64(0);
        size.reset();
    }
    f.autocommitLookupUs = secondsSince(t0) * 1e6 / (lookups / 10);
    // A check walks many documents of one sub database inside one read transaction.
    cn.database().exec("BEGIN");
    for (int i = 0; i < lookups; ++i) {
        size.bind(1, std::int64_t(pick(rng)));
        if (size.step() == sql::Step::Row) total += size.getInt64(0);
        size.reset();
    }
    f.randomLookupUs = secondsSince(t0) * 1e6 / lookups;
    cn.database().exec("COMMIT");
    cn.close();
    cn.open(Cs(path, kPwd));
    sql::Statement seq(cn.database(), "SELECT length(PICTURE) FROM PICTURES WHERE ID = ?");
    cn.database().exec("BEGIN");
    t0 = Clock::now();
    for (int i = 1; i <= lookups; ++i) {
        seq.bind(1, std::int64_t(i));
        if (seq.step() == sql::Step::Row) total += seq.getInt64(0);
        seq.reset();
    }
    f.sequentialLookupUs = secondsSince(t0) * 1e6 / lookups;
    cn.database().exec("COMMIT");
    seq = sql::Statement();
    size = sql::Statement();
    cn.close();
    std::filesystem::remove(path);
    sql::OverrideCipherPageSizeForBenchmark(sql::kCipherPageSize);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = "/var/tmp/quillex-bench";
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        else dir = argv[i];
    }
    std::filesystem::create_directories(dir);
    const std::int64_t big = quick ? (64ll << 20) : (300ll << 20);
    std::printf("Engine benchmark (%s), work folder %s, library %s\n\n", quick ? "quick" : "full", dir.c_str(),
                sql::LibraryVersion().c_str());

    // Open cost: keyed against plain.
    const std::string keyed = dir + "/open.dat", plain = dir + "/open.omd";
    makePictures(keyed, kPwd);
    makePictures(plain, "");
    auto openCost = [](const std::string& cs) {
        const int n = 500;
        auto t0 = Clock::now();
        for (int i = 0; i < n; ++i) {
            Connection cn{qx::RealEnv()};
            if (!cn.open(cs)) return -1.0;
        }
        return secondsSince(t0) * 1000 / n;
    };
    const double keyedMs = openCost(Cs(keyed, kPwd)), plainMs = openCost(Cs(plain, ""));
    std::printf("open, keyed file          %8.3f ms\n", keyedMs);
    std::printf("open, plain file          %8.3f ms   keyed/plain = %.2f\n\n", plainMs, keyedMs / plainMs);

    // Streaming against cp of a file of the same size on the same disk.
    const std::string pdb = dir + "/stream_1.pdb";
    makePictures(pdb, kPwd);
    double writeS, readS;
    {
        Connection cn{qx::RealEnv()};
        cn.open(Cs(pdb, kPwd));
        auto t0 = Clock::now();
        if (!writeValue(cn, 1, big)) std::printf("stream write FAILED\n");
        writeS = secondsSince(t0);
    }
    {
        Connection cn{qx::RealEnv()};
        cn.open(Cs(pdb, kPwd));
        auto t0 = Clock::now();
        if (readValue(cn, 1) != big) std::printf("stream read FAILED\n");
        readS = secondsSince(t0);
    }
    const std::string src = dir + "/cp_src.bin", dst = dir + "/cp_dst.bin";
    {
        std::ofstream out(src, std::ios::binary);
        std::vector<char> chunk(1 << 20, 'x');
        for (std::int64_t i = 0; i < big; i += chunk.size()) out.write(chunk.data(), chunk.size());
    }
    fsyncFile(src);
    auto t0 = Clock::now();
    std::system(("cp '" + src + "' '" + dst + "'").c_str());
    fsyncFile(dst);
    const double cpS = secondsSince(t0);
    t0 = Clock::now();
    std::system(("cat '" + dst + "' > /dev/null").c_str());
    const double catS = secondsSince(t0);
    const double mb = double(big) / (1 << 20);
    std::printf("stream write %4.0f MB      %8.1f MB/s   cp (with fsync) %8.1f MB/s   ratio %.2f\n", mb, mb / writeS,
                mb / cpS, cpS / writeS);
    std::printf("stream read  %4.0f MB      %8.1f MB/s   cat (cached)    %8.1f MB/s   ratio %.2f\n\n", mb, mb / readS,
                mb / catS, catS / readS);
    for (const std::string& f : {src, dst, pdb, keyed, plain}) std::filesystem::remove(f);

    const long rss = peakRssOfChild(dir, big);
    std::printf("peak RSS, %4.0f MB value written and read back by streaming: %ld MB (goal < 64 MB)\n\n", mb, rss);

    // Page sizes: streaming against the per-document size lookup of a check.
    const int docs = quick ? 20000 : 100000;
    std::printf("size lookups of 1 KB documents (%d docs): random and sequential inside one read transaction,\n"
                "random with one transaction per statement\n", docs);
    std::printf("page size   stream read MB/s   random us   sequential us   random, autocommit us\n");
    for (int ps : {1024, 4096, 16384, 65536}) {
        PageFigures f = measurePageSize(dir, ps, docs, quick ? (32ll << 20) : (128ll << 20));
        std::printf("%8d   %16.1f   %9.2f   %13.2f   %21.2f%s\n", ps, f.streamMBs, f.randomLookupUs,
                    f.sequentialLookupUs, f.autocommitLookupUs, ps == sql::kCipherPageSize ? "   <- archive format" : "");
    }
    return 0;
}
