// Report-only runs: on every kind of damage the sample writer knows, a
// report-only run finds what a real run on an identical archive finds, and
// leaves every entry of the archive folder as it was (bytes, names, modes,
// times).
#include "support/ArchiveLock.h"
#include "support/Env.h"
#include "support/engine/Connection.h"
#include "support/engine/Sql.h"
#include "support/TextResources.h"
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/CliRunner.h"
#include "tests/core/WriteWatch.h"
#include "tools/sample/SampleArchive.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

using namespace qx;
using qx::test::CliRun;
using qx::test::RunCli;
using qx::test::TempDir;
namespace fs = std::filesystem;

namespace {

struct Report {
    std::set<std::pair<long, int>> findings;  // id, code
    long damaged = -1, fixed = -1;
    bool dryRun = false, anyRepaired = false;
};

Report ReadReport(const std::string& path) {
    Report r;
    const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(test::Slurp(path))).object();
    for (const QJsonValue v : root["findings"].toArray()) {
        const QJsonObject o = v.toObject();
        r.findings.insert({static_cast<long>(o["id"].toInteger()), o["code"].toInt()});
        r.anyRepaired = r.anyRepaired || o["repaired"].toBool();
    }
    r.damaged = static_cast<long>(root["damaged"].toInteger());
    r.fixed = static_cast<long>(root["fixed"].toInteger());
    r.dryRun = root["dry_run"].toBool();
    return r;
}

// The sample's faults in families; one archive per family carries them all.
// Every fault the sample writer knows must be in one of them.
const std::vector<std::pair<std::string, std::vector<std::string>>>& FaultFamilies() {
    static const std::vector<std::pair<std::string, std::vector<std::string>>> families = {
        {"data rows",
         {"no-data-row", "data-in-other-sub-database", "empty-data-with-copy", "empty-data-without-copy",
          "unreferenced-empty-data", "unreferenced-data", "same-id-different-data", "databaseid-zero"}},
        {"tree",
         {"orphan-page-no-container", "orphan-page-container-not-mp", "parent-missing", "parent-cycle",
          "empty-folders", "trashed-without-trash-rows", "large-documents"}},
        {"content",
         {"damaged-tiff-page", "double-byte-pdf", "truncated-jpeg", "undecodable-image", "zero-upper-half",
          "worked-example-pdf", "no-trash-support", "damaged-copy-in-other-sub-database",
          "oversized-images"}},
        {"files",
         {"sub-database-number-gaps", "unreferenced-sub-database", "databases-row-missing",
          "sub-database-file-missing", "unopenable-sub-database", "omd-damaged"}},
        {"moved folder", {"archive-folder-moved", "omd-missing"}},
    };
    return families;
}

std::string Joined(const std::vector<std::string>& words, const std::string& glue) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : glue) + w;
    return out;
}

// What a run printed, comparable between a report-only run and a real one:
// the folder's name taken out, the report-only lines and the compacted sizes
// (a report-only run makes no copy to measure) left out.
std::string Comparable(const CliRun& run, const std::string& folder) {
    std::string kept;
    for (const std::string* text : {&run.out, &run.err}) {
        std::istringstream in(*text);
        for (std::string line; std::getline(in, line);) {
            for (std::size_t f; (f = line.find(folder)) != std::string::npos;) line.replace(f, folder.size(), "ARCHIVE");
            for (const auto& [from, to] :
                 {std::pair<std::string, std::string>{"zou worden gerepareerd", "gerepareerd"},
                  {" (" + GetResString(219, "") + ")", ""},
                  {"zou worden bewaard als", "bewaard als"},
                  {"zou niet worden gekopieerd", "niet gekopieerd"},
                  {"is beschadigd. Ze zou apart worden gezet als", "was beschadigd. Ze is apart gezet als"},
                  {"en leeg opnieuw worden aangemaakt", "en leeg opnieuw aangemaakt"}})
                if (const std::size_t f = line.find(from); f != std::string::npos) line.replace(f, from.size(), to);
            if (line.starts_with("zou ") || line.starts_with("alleen rapporteren") || line.find(" -> ") != std::string::npos)
                continue;
            kept += line + "\n";
        }
    }
    return kept;
}

// A folder as `ls -la` and a checksum see it, the folder's own entry included:
// a file made and removed again still changes the folder.
std::map<std::string, std::string> Stamps(const std::string& folder) {
    auto stamps = test::FolderStamps(folder);
    struct stat st {};
    ::stat(folder.c_str(), &st);
    stamps["."] = std::to_string(st.st_mode) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                  std::to_string(st.st_mtim.tv_nsec);
    return stamps;
}

// Every document that led to bytes before still leads to them, unless the
// command removed it or the thorough check rewrote it after keeping the old
// bytes in a backup; no data row is left in no listed sub database.
void ExpectBytesKept(const test::ArchiveSnapshot& before, const test::ArchiveSnapshot& after,
                     const std::set<long>& removed) {
    ASSERT_TRUE(after.opened) << Joined(after.notes, "; ");
    test::Findings lost;
    for (const auto& [id, sha] : before.documents) {
        if (removed.count(id)) continue;
        const auto now = after.documents.find(id);
        if (now == after.documents.end()) lost.add("document " + std::to_string(id) + " leads to no data");
        else if (now->second != sha && !after.dataRows.count({id, sha}))
            lost.add("document " + std::to_string(id) + " leads to other bytes");
    }
    EXPECT_EQ(lost.count, 0) << lost.text();
    test::ArchiveSnapshot kept = before;
    std::erase_if(kept.dataRows, [&](const auto& row) { return removed.count(row.first) > 0; });
    const test::Findings stranded = test::StrandedData(kept, after);
    EXPECT_EQ(stranded.count, 0) << stranded.text();
}


}  // namespace

// Every command that takes --dry-run, on an archive of every fault family:
// the report-only run leaves the folder exactly as it was (names, bytes,
// modes, times), and says and exits what the real run on a copy says and
// exits; the real run keeps every document's bytes.
TEST(DryRun, EveryCommandOnEveryFaultFamilyFindsWhatTheRealRunFindsAndChangesNothing) {
    std::set<std::string> covered;
    for (const auto& [family, faults] : FaultFamilies()) covered.insert(faults.begin(), faults.end());
    EXPECT_EQ(covered, std::set<std::string>(SampleFaultNames().begin(), SampleFaultNames().end()))
        << "a fault of the sample writer belongs to no family here";

    struct Case {
        std::string command;  // ARCHIVE stands for the main database, IDS for document numbers
        bool check = false;   // compared by its JSON findings
    };
    const std::vector<Case> cases = {
        {"open ARCHIVE --yes"},
        {"check --quick ARCHIVE --yes", true},
        {"check --normal ARCHIVE --yes", true},
        {"check --thorough ARCHIVE --yes", true},
        {"check --empty-folders ARCHIVE --yes", true},
        {"check --large-documents ARCHIVE --yes", true},
        {"compact ARCHIVE --all --yes"},
        {"reorganize ARCHIVE --yes"},
        {"remove ARCHIVE IDS --yes"},
        {"repair-multipage ARCHIVE --yes"},
        {"salvage ARCHIVE --yes"},
    };
    for (const auto& [family, faults] : FaultFamilies()) {
        TempDir dir;
        const std::string sample = dir.file("sample");
        const CliRun made =
            RunCli("sample '" + sample + "' --documents 60 --faults " + Joined(faults, ",") + " --json", dir);
        ASSERT_EQ(made.exit, 0) << family << ": " << made.err;
        // One document of every fault that marks documents, for `remove`.
        std::set<long> ids;
        const QJsonObject manifest = QJsonDocument::fromJson(QByteArray::fromStdString(made.out)).object();
        for (const QJsonValue fault : manifest["faults"].toObject())
            if (const QJsonArray marked = fault.toObject()["ids"].toArray(); !marked.isEmpty())
                ids.insert(static_cast<long>(marked.first().toInteger()));
        std::string idWords;
        for (long id : ids) idWords += (idWords.empty() ? "" : " ") + std::to_string(id);

        for (const Case& c : cases) {
            SCOPED_TRACE(family + ": " + c.command);
            const std::string dry = dir.file("dry"), real = dir.file("real");
            for (const std::string& copy : {dry, real}) {
                fs::remove_all(copy);
                fs::copy(sample, copy, fs::copy_options::recursive);
            }
            const auto command = [&](const std::string& folder, const char* json) {
                std::string line = c.command;
                line.replace(line.find("ARCHIVE"), 7, "'" + folder + "/Archief.dat'");
                if (const std::size_t at = line.find("IDS"); at != std::string::npos) line.replace(at, 3, idWords);
                return c.check ? line + " --json '" + dir.file(json) + "'" : line;
            };

            const auto before = Stamps(dry);
            const CliRun d = RunCli(command(dry, "d.json") + " --dry-run", dir);
            EXPECT_EQ(Stamps(dry), before) << Joined(test::ChangedFiles(before, Stamps(dry)), ", ") << "\n"
                                           << d.out << d.err;
            const test::ArchiveSnapshot was = test::TakeSnapshot(real + "/Archief.dat");
            const CliRun r = RunCli(command(real, "r.json"), dir);
            EXPECT_EQ(d.exit, r.exit) << d.out << d.err << "\n---\n" << r.out << r.err;
            if (was.opened)
                ExpectBytesKept(was, test::TakeSnapshot(real + "/Archief.dat"),
                                c.command.starts_with("remove") ? ids : std::set<long>{});
            if (!c.check) {
                EXPECT_EQ(Comparable(d, dry), Comparable(r, real));
                continue;
            }
            const Report dr = ReadReport(dir.file("d.json")), rr = ReadReport(dir.file("r.json"));
            EXPECT_EQ(dr.findings, rr.findings);
            EXPECT_EQ(std::pair(dr.damaged, dr.fixed), std::pair(rr.damaged, rr.fixed)) << "damaged, fixed";
            EXPECT_TRUE(dr.dryRun);
            EXPECT_FALSE(dr.anyRepaired) << "a report-only finding says it was repaired";
        }
    }
}

TEST(DryRun, WritesNoLogUnlessAskedAndNeverIntoAnArchiveFile) {
    TempDir dir;
    const std::string folder = dir.file("a");
    ASSERT_EQ(RunCli("sample '" + folder + "' --documents 40 --faults data-in-other-sub-database", dir).exit, 0);
    const std::string main = folder + "/Archief.dat";
    const auto before = test::FolderStamps(folder);

    EXPECT_EQ(RunCli("check --normal -n '" + main + "'", dir).exit, 1);
    EXPECT_FALSE(fs::exists(folder + "/Archief.log"));

    const std::string log = dir.file("elsewhere.log");
    EXPECT_EQ(RunCli("check --normal -n '" + main + "' --log '" + log + "'", dir).exit, 1);
    EXPECT_NE(test::Slurp(log).find("report only: not saved"), std::string::npos) << test::Slurp(log);

    // A log appended to a sub database would damage it: the run is refused.
    const CliRun refused = RunCli("check --normal -n '" + main + "' --log '" + folder + "/Archief_1.pdb'", dir);
    EXPECT_EQ(refused.exit, 8) << refused.out << refused.err;
    EXPECT_EQ(test::FolderStamps(folder), before);
}

// The engine's file layer of a report-only run: commits are seen by later
// connections, under the names the run gave the files, and never on disk.
TEST(DryRun, ChangesLiveInMemoryAcrossConnectionsAndRenames) {
    TempDir dir;
    const std::string path = dir.file("t.db"), moved = dir.file("u.db");
    {
        sql::Error err;
        sql::Database db = engine::CreateDatabaseFile(qx::RealEnv(), path, "", err);
        ASSERT_TRUE(db.exec("CREATE TABLE t(v); INSERT INTO t VALUES (1);")) << err.message;
    }
    const auto before = test::FolderStamps(dir.path());
    {
        const std::unique_ptr<Env> view = NewReportOnlyEnv(qx::RealEnv());
        sql::Error err;
        {
            sql::Database db = sql::Database::open(*view, path, "", sql::OpenMode::ReadWrite, err);
            ASSERT_TRUE(db.exec("INSERT INTO t VALUES (2); CREATE TABLE big(b);")) << err.message;
            ASSERT_TRUE(db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
                                "INSERT INTO big SELECT randomblob(5000) FROM n;"));
        }
        ASSERT_EQ(view->RenameEntry(path, moved), 0);
        EXPECT_EQ(view->RenameEntry(moved, moved), EEXIST);
        sql::Database again = sql::Database::open(*view, moved, "", sql::OpenMode::ReadWrite, err);
        ASSERT_TRUE(again.isOpen()) << err.message;
        sql::Statement st(again, "SELECT count(*), (SELECT count(*) FROM big) FROM t");
        ASSERT_EQ(st.step(), sql::Step::Row);
        EXPECT_EQ(std::pair(st.getInt64(0), st.getInt64(1)), (std::pair<std::int64_t, std::int64_t>(2, 300)));
        sql::Statement check(again, "PRAGMA integrity_check");
        ASSERT_EQ(check.step(), sql::Step::Row);
        EXPECT_EQ(check.getText(0), "ok");
        sql::Database gone = sql::Database::open(*view, path, "", sql::OpenMode::ReadWrite, err);
        EXPECT_FALSE(gone.isOpen()) << "the old name still opens after the rename";
        sql::Database made = engine::CreateDatabaseFile(*view, dir.file("new.db"), "", err);
        EXPECT_TRUE(made.exec("CREATE TABLE n(x)"));
    }
    EXPECT_EQ(test::FolderStamps(dir.path()), before);
}

// The lock of a report-only run and the lock of a changing run see each
// other, whichever comes first; report-only runs share.
TEST(DryRun, ReportOnlyAndChangingRunsSeeEachOthersLock) {
    enum class Kind { ReportOnly, Changing };
    struct Case {
        const char* name;
        Kind first, second;
        bool secondHeld;
    };
    const Case cases[] = {
        {"report-only, then changing", Kind::ReportOnly, Kind::Changing, false},
        {"changing, then report-only", Kind::Changing, Kind::ReportOnly, false},
        {"two report-only runs", Kind::ReportOnly, Kind::ReportOnly, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string main = dir.file("Archief.dat"), lock = dir.file("Archief.lock");
        test::WriteFile(main, "data");
        const auto take = [&](Kind kind, ArchiveLock::Outcome& outcome, std::string& holder) {
            if (kind == Kind::ReportOnly) return ArchiveLock::Share(qx::RealEnv(), main, lock, outcome, holder);
            auto held = ArchiveLock::Acquire(qx::RealEnv(), lock, outcome, holder);
            if (held && !held->HoldMainFile(main, holder)) {
                held.reset();
                outcome = ArchiveLock::Outcome::InUse;
            }
            return held;
        };
        ArchiveLock::Outcome outcome;
        std::string holder;
        const auto first = take(c.first, outcome, holder);
        ASSERT_TRUE(first) << holder;
        const auto second = take(c.second, outcome, holder);
        EXPECT_EQ(second != nullptr, c.secondHeld) << holder;
        EXPECT_EQ(outcome, c.secondHeld ? ArchiveLock::Outcome::Held : ArchiveLock::Outcome::InUse);
    }
}

namespace {

// An archive folder this process may only read, made the strongest way the
// machine allows: a read-only bind mount in a mount namespace of its own
// (root ignores permission bits), files and folder made immutable, or the
// write permission taken away (not root).
class ReadOnlyArchive {
public:
    enum class Way { Mount, Immutable, Permissions };
    ReadOnlyArchive(Way way, std::string folder) : m_way(way), m_folder(std::move(folder)) {
        const std::string q = test::ShellQuote(m_folder);
        switch (way) {
        case Way::Mount:
            m_ready = std::system(("unshare -m sh -c " + test::ShellQuote(Mounted("! touch " + q + "/.probe")) +
                                   " >/dev/null 2>&1")
                                      .c_str()) == 0;
            break;
        case Way::Immutable:
            m_ready = ::geteuid() == 0 && std::system(("chattr +i " + q + "/* " + q + " 2>/dev/null").c_str()) == 0 &&
                      std::system(("! touch " + q + "/.probe 2>/dev/null").c_str()) == 0;
            break;
        case Way::Permissions:
            m_ready = ::geteuid() != 0 && std::system(("chmod a-w " + q + "/* " + q).c_str()) == 0;
            break;
        }
    }
    ~ReadOnlyArchive() {
        const std::string q = test::ShellQuote(m_folder);
        if (m_way == Way::Immutable) (void)!std::system(("chattr -i " + q + " " + q + "/* 2>/dev/null").c_str());
        if (m_way == Way::Permissions) (void)!std::system(("chmod u+w " + q + " " + q + "/*").c_str());
    }
    bool ready() const { return m_ready; }

    CliRun Run(const std::string& args, const TempDir& scratch) const {
        if (m_way != Way::Mount) return RunCli(args, scratch);
        const std::string out = scratch.file("cli.out"), err = scratch.file("cli.err");
        const std::string inner = Mounted("exec '" + std::string(QX_CLI_PATH) + "' " + args);
        const int status = std::system(("unshare -m sh -c " + test::ShellQuote(inner) + " >'" + out + "' 2>'" + err +
                                        "' </dev/null")
                                           .c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::Slurp(out), test::Slurp(err)};
    }

private:
    std::string Mounted(const std::string& then) const {
        const std::string q = test::ShellQuote(m_folder);
        return "mount --make-rprivate / && mount --bind " + q + " " + q + " && mount -o remount,bind,ro " + q + " " +
               q + " && " + then;
    }
    Way m_way;
    std::string m_folder;
    bool m_ready = false;
};

}  // namespace

// Every report-only run works on an archive the user can only read, and
// finds and exits what it does on a writable copy; a real run says why it
// cannot and points to report-only.
TEST(DryRun, ArchivesThatCanOnlyBeReadAreCheckedReportOnly) {
    TempDir dir;
    const std::string sample = dir.file("sample");
    const CliRun made = RunCli("sample '" + sample +
                                   "' --documents 60 --faults data-in-other-sub-database,sub-database-number-gaps,"
                                   "unreferenced-sub-database,orphan-page-no-container --json",
                               dir);
    ASSERT_EQ(made.exit, 0) << made.err;
    const QJsonObject manifest = QJsonDocument::fromJson(QByteArray::fromStdString(made.out)).object();
    const std::string removed = std::to_string(
        manifest["faults"].toObject()["data-in-other-sub-database"].toObject()["ids"].toArray().first().toInteger());
    const std::vector<std::string> commands = {
        "open --yes",      "check --quick --yes",     "check --normal --yes",        "check --thorough --yes",
        "compact --yes",   "reorganize --yes",        "remove --yes " + removed,     "repair-multipage --yes",
        "salvage --yes",
    };
    const std::string reference = dir.file("writable");
    fs::copy(sample, reference, fs::copy_options::recursive);

    struct Way {
        const char* name;
        ReadOnlyArchive::Way way;
        const char* reason;  // in the refusal of a real run
    };
    const Way ways[] = {
        {"read-only mount", ReadOnlyArchive::Way::Mount, "alleen-lezen"},
        {"immutable files and folder", ReadOnlyArchive::Way::Immutable, "geen schrijfrechten"},
        {"no write permission", ReadOnlyArchive::Way::Permissions, "geen schrijfrechten"},
    };
    int ran = 0;
    for (const Way& w : ways) {
        SCOPED_TRACE(w.name);
        const std::string folder = dir.file("ro");
        fs::remove_all(folder);
        fs::copy(sample, folder, fs::copy_options::recursive);
        const ReadOnlyArchive readOnly(w.way, folder);
        if (!readOnly.ready()) continue;
        ++ran;
        const auto before = Stamps(folder);
        for (const std::string& command : commands) {
            SCOPED_TRACE(command);
            const bool check = command.starts_with("check");
            const auto line = [&](const std::string& at, const char* json) {
                const std::size_t word = command.find(' ');
                return command.substr(0, word) + " '" + at + "/Archief.dat'" + command.substr(word) + " --dry-run" +
                       (check ? " --json '" + dir.file(json) + "'" : "");
            };
            const CliRun ro = readOnly.Run(line(folder, "ro.json"), dir);
            const CliRun rw = RunCli(line(reference, "rw.json"), dir);
            EXPECT_EQ(ro.exit, rw.exit) << ro.out << ro.err << "\n---\n" << rw.out << rw.err;
            EXPECT_EQ(Comparable(ro, folder), Comparable(rw, reference));
            if (check) EXPECT_EQ(ReadReport(dir.file("ro.json")).findings, ReadReport(dir.file("rw.json")).findings);
        }
        const CliRun real = readOnly.Run("check --normal --yes '" + folder + "/Archief.dat'", dir);
        EXPECT_EQ(real.exit, 8) << real.err;
        EXPECT_NE(real.err.find(w.reason), std::string::npos) << real.err;
        EXPECT_NE(real.err.find("--dry-run"), std::string::npos) << real.err;
        EXPECT_EQ(Stamps(folder), before);
    }
    if (ran == 0) GTEST_SKIP() << "no way to make a folder read-only here (root without mount namespaces or chattr)";
}
