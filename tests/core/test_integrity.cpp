// The integrity pass of the normal and thorough checks: a damaged page in
// any table or index of the main database, in a sub database or in the OCR
// database is a finding that names the file and what is damaged; damage
// confined to an index is rebuilt once the tables read, and a second run
// finds nothing. A file another program holds ends the run as in use, and
// a Cancel between files ends it as cancelled.
#include "database/CDatabase.h"
#include "database/CheckCommand.h"
#include "database/access/FileNames.h"
#include "database/checks/Integrity.h"
#include "database/checks/ResultCodes.h"
#include "support/FileOperations.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/engine/Connection.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CliRunner.h"
#include "tests/core/SampleFixture.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"
#include "tools/sample/SampleArchive.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <utility>
#include <fstream>

using namespace qx;
using qx::test::ArchiveBuilder;
namespace fs = std::filesystem;

namespace {

constexpr short kNormal = 23, kThorough = 319;

std::int64_t PageSize(const std::string& path, const std::string& password) {
    if (!password.empty()) return 16384;  // the archive's cipher page size
    std::ifstream f(path, std::ios::binary);
    unsigned char header[18] = {};
    f.read(reinterpret_cast<char*>(header), sizeof header);
    const std::int64_t size = header[16] << 8 | header[17];
    return size == 1 ? 65536 : size;
}

// Overwrites bytes of page `page` (1-based, as the engine counts): an
// encrypted page then fails its authentication, a plain one its structure.
void Damage(const std::string& path, const std::string& password, std::int64_t page) {
    const std::int64_t size = PageSize(path, password);
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    if (password.empty()) {
        f.seekp((page - 1) * size);
        f.write(std::string(static_cast<size_t>(size), '\xde').data(), size);
    } else {
        f.seekp((page - 1) * size + 200);
        f.write("\xde\xad\xbe\xef\xde\xad\xbe\xef", 8);
    }
}

// Whether the tree `name` (a table, or an index of `table`) reads to its end.
bool TreeReads(const std::string& path, const std::string& password, const std::string& table,
               const std::string& index) {
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(password), sql::OpenMode::ReadOnly, err);
    if (!db.isOpen()) return false;
    sql::Statement st(db, index.empty() ? "SELECT * FROM \"" + table + "\" NOT INDEXED"
                                        : "SELECT sum(1) FROM \"" + table + "\" INDEXED BY \"" + index + "\"");
    sql::Step s = sql::Step::Failed;
    while (st.ok() && (s = st.step()) == sql::Step::Row) {
    }
    return st.ok() && s == sql::Step::Done;
}

std::string Scalar(const std::string& path, const std::string& password, const std::string& sqlText) {
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(password), sql::OpenMode::ReadOnly, err);
    sql::Statement st(db, sqlText);
    return st.ok() && st.step() == sql::Step::Row ? st.getText(0) : "(" + st.error().message + ")";
}

// A page of the tree: its root, or (deep) a page below the root, found by
// damaging a copy page by page until the tree no longer reads.
std::int64_t PageOf(const std::string& path, const std::string& password, const std::string& table,
                    const std::string& index, bool deep) {
    const std::string tree = index.empty() ? table : index;
    const std::int64_t root =
        std::stoll(Scalar(path, password, "SELECT rootpage FROM sqlite_master WHERE name = '" + tree + "'"));
    if (!deep) return root;
    const std::int64_t pages = std::stoll(Scalar(path, password, "PRAGMA page_count"));
    const std::string copy = path + ".probe";
    for (std::int64_t p = pages; p > 1; --p) {
        if (p == root) continue;
        fs::copy_file(path, copy, fs::copy_options::overwrite_existing);
        Damage(copy, password, p);
        if (!TreeReads(copy, password, table, index)) {
            fs::remove(copy);
            return p;
        }
    }
    fs::remove(copy);
    ADD_FAILURE() << tree << " has no page below its root";
    return root;
}

struct IntegrityRun {
    std::vector<ListRow> rows;
    bool noErrorsBox = false;
};

class Integrity : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::Reset();
        Settings::Get().LogFileName = dir.file("Kantoor.log");
        a.sub(1, {2, 3, 4});
        // Enough rows that FOLDERS, its indexes and words span several
        // pages, and a sub database and an OCR database of several pages.
        a.exec("WITH RECURSIVE r(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM r WHERE i < 5099) "
               "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) SELECT i, i % 97 + 1, -1, "
               "'map ' || hex(randomblob(12)) FROM r");
        a.exec("WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < 3000) "
               "INSERT INTO words (word, reference) SELECT 'woord' || hex(randomblob(8)), i FROM r");
        a.execIn(1, "WITH RECURSIVE r(i) AS (SELECT 1000 UNION ALL SELECT i + 1 FROM r WHERE i < 1300) "
                    "INSERT INTO PICTURES (ID, PICTURE) SELECT i, randomblob(1500) FROM r");
        ArchiveBuilder::Exec(OmdName(a.main), "",
                             "WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < 3000) "
                             "INSERT INTO OCRWORDS (DOCUMENTID, PAGE, WORD) SELECT i % 50, 1, "
                             "'ocr' || hex(randomblob(10)) FROM r");
    }
    void TearDown() override { Settings::Reset(); }

    IntegrityRun run(short flags, bool dryRun = false) {
        qx::test::ScriptedWindow window;
        CDatabase db(window, window.env());
        Settings::Get().DatabasePassword = a.password;
        Settings::Get().DatabaseVersion = 8;
        db.m_bShowErrors = false;
        db.SetDryRun(dryRun);
        EXPECT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, a.password)));
        window.boxes.clear();
        db.Analyse(flags);
        IntegrityRun r;
        r.rows = window.lists[ListId::Documents];
        for (const auto& b : window.boxes) r.noErrorsBox |= b.icon == MsgIcon::Information;
        return r;
    }

    qx::test::TempDir dir;
    ArchiveBuilder a{dir.path()};
};

const ListRow* FindingOf(const IntegrityRun& r, int code, const std::string& file) {
    for (const ListRow& row : r.rows)
        if (row.tag == code && row.subItems.size() > 1 && row.subItems[1] == file) return &row;
    return nullptr;
}

}  // namespace

TEST_F(Integrity, DamageAnywhereIsAFindingThatNamesTheFileAndWhatIsDamaged) {
    enum class File { Main, Omd, Sub };
    struct Case {
        const char* name;
        File file;
        std::string table, index;
        bool deep;
        int code;          // at both levels
        std::string what;  // the finding's name column
    } cases[] = {
        {"a page deep in table FOLDERS", File::Main, "FOLDERS", "", true, ResultFileDamaged, "tabel FOLDERS"},
        {"the root of index FOLDERS.Naam", File::Main, "FOLDERS", "FOLDERS.Naam", false, ResultIndexRebuilt,
         "index FOLDERS.Naam van tabel FOLDERS"},
        {"a page deep in index FOLDERS.parentID", File::Main, "FOLDERS", "FOLDERS.parentID", true,
         ResultIndexRebuilt, "index FOLDERS.parentID van tabel FOLDERS"},
        {"a page deep in another table, words", File::Main, "words", "", true, ResultFileDamaged, "tabel words"},
        {"the root of the OCR table", File::Omd, "OCRWORDS", "", false, ResultFileDamaged, "tabel OCRWORDS"},
        {"a page deep in an OCR index", File::Omd, "OCRWORDS", "OCRWORDS.Word", true, ResultIndexRebuilt,
         "index OCRWORDS.Word van tabel OCRWORDS"},
    };
    const std::string pristine = dir.file("pristine");
    fs::create_directory(pristine);
    for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.is_regular_file()) fs::copy_file(e.path(), pristine + "/" + e.path().filename().string());

    for (const Case& c : cases) {
        for (short flags : {kNormal, kThorough}) {
            SCOPED_TRACE(std::string(c.name) + (flags == kNormal ? ", normal check" : ", thorough check"));
            for (const auto& e : fs::directory_iterator(pristine))
                fs::copy_file(e.path(), dir.file(e.path().filename().string()), fs::copy_options::overwrite_existing);
            const std::string path = c.file == File::Main ? a.main : c.file == File::Omd ? OmdName(a.main)
                                                                                        : SubDatabaseName(a.main, 1);
            const std::string password = c.file == File::Omd ? "" : a.password;
            Damage(path, password, PageOf(path, password, c.table, c.index, c.deep));
            const std::string before = qx::test::Slurp(path);

            const IntegrityRun first = run(flags);
            const ListRow* finding = FindingOf(first, c.code, GetFileNamePart(path));
            ASSERT_NE(finding, nullptr) << qx::test::Slurp(Settings::Get().LogFileName);
            EXPECT_EQ(finding->text, c.what);
            EXPECT_FALSE(first.noErrorsBox);

            const IntegrityRun second = run(flags);
            const bool rebuilt = c.code == ResultIndexRebuilt;
            EXPECT_EQ(FindingOf(second, ResultFileDamaged, GetFileNamePart(path)) != nullptr, !rebuilt);
            EXPECT_EQ(FindingOf(second, ResultIndexRebuilt, GetFileNamePart(path)), nullptr);
            if (rebuilt) {
                EXPECT_EQ(Scalar(path, password, "PRAGMA integrity_check"), "ok");
                EXPECT_TRUE(TreeReads(path, password, c.table, c.index));
            } else {
                // Nothing is repaired on the strength of a failed read.
                EXPECT_TRUE(qx::test::Slurp(path) == before);
            }
        }
    }
}

// A sub database is read whole by the thorough check only; the normal check
// finds the damage in the rows it reads.
TEST_F(Integrity, ADamagedSubDatabaseIsNamedAtBothLevels) {
    const std::string sub = SubDatabaseName(a.main, 1);
    Damage(sub, a.password, PageOf(sub, a.password, "PICTURES", "", true));
    for (auto [flags, code] :
         {std::pair{kNormal, int(ResultPdbDamaged)}, std::pair{kThorough, int(ResultFileDamaged)}}) {
        const IntegrityRun r = run(flags);
        const ListRow* finding = FindingOf(r, code, GetFileNamePart(sub));
        ASSERT_NE(finding, nullptr) << flags;
        if (code == ResultFileDamaged) {
            EXPECT_EQ(finding->text, "tabel PICTURES");
        }
        EXPECT_FALSE(r.noErrorsBox) << flags;
    }
}

// A report-only run says what a real run would rebuild, finds what the real
// run finds after it, and changes nothing.
TEST_F(Integrity, AReportOnlyRunRebuildsNothingAndFindsWhatARealRunFinds) {
    Damage(a.main, a.password, PageOf(a.main, a.password, "FOLDERS", "FOLDERS.parentID", true));
    const std::string before = qx::test::Slurp(a.main);
    auto codes = [](const IntegrityRun& r) {
        std::vector<int> out;
        for (const ListRow& row : r.rows) out.push_back(static_cast<int>(row.tag));
        return out;
    };
    for (short flags : {kNormal, kThorough}) {
        const IntegrityRun reportOnly = run(flags, true);
        const ListRow* finding = FindingOf(reportOnly, ResultIndexRebuilt, GetFileNamePart(a.main));
        ASSERT_NE(finding, nullptr) << flags;
        EXPECT_EQ(finding->subItems[2], "Zou worden hersteld") << flags;
        EXPECT_TRUE(qx::test::Slurp(a.main) == before) << flags;
        if (flags == kThorough) {
            EXPECT_EQ(codes(reportOnly), codes(run(flags))) << flags;
        }
    }
}

TEST(IntegrityVerdict, UnusedPagesAloneAreRepairableSpaceNotUnreadableData) {
    qx::test::TempDir dir;
    const std::string path = dir.file("plain.db");
    {
        sql::Error err;
        sql::Database created = sql::Database::open(qx::RealEnv(), path, "", sql::OpenMode::Create, err);
        ASSERT_TRUE(created.exec("CREATE TABLE t (a TEXT); CREATE INDEX ti ON t (a);"
                                 "WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < 2000) "
                                 "INSERT INTO t SELECT hex(randomblob(20)) FROM r",
                                 &err))
            << err.message;
    }
    EXPECT_EQ(integrity::VerifyFile(qx::RealEnv(), path, "", integrity::Depth::Full).kind, integrity::Verdict::Kind::Clean);

    sql::Error err;
    {
        sql::Database db = sql::Database::open(qx::RealEnv(), path, "", sql::OpenMode::ReadWrite, err);
        ASSERT_TRUE(integrity::RebuildIndexes(db, {"ti"}, err)) << err.message;
    }
    for (auto depth : {integrity::Depth::Pages, integrity::Depth::Full}) {
        const integrity::Verdict v = integrity::VerifyFile(qx::RealEnv(), path, "", depth);
        EXPECT_EQ(v.kind, integrity::Verdict::Kind::Damaged);
        ASSERT_EQ(v.damage.size(), 1u);
        EXPECT_TRUE(v.damage[0].unusedPages);
        EXPECT_TRUE(v.Repairable());
    }
    EXPECT_EQ(Scalar(path, "", "SELECT count(*) FROM t INDEXED BY ti WHERE a > ''"), "2000");
}

namespace {

}  // namespace

// The thorough check offers to salvage a file whose tables do not all read:
// declined (--no, or no terminal to ask) the damage stays and so does the
// exit code; agreed (--yes) the salvaged file is a repaired finding and a
// second run finds the file sound. (Documents whose record was lost come
// back without their template, and the thorough check judges those that are
// no image as corrupt: the exit code then follows them, not the file.)
TEST(CliIntegrity, ExitCodesFollowTheDamageLeft) {
    struct Case {
        const char* name;
        std::string table, index;
        bool omd, deep;
        const char* level;
        const char* answer;
        int exitFirst, exitAgain;  // -1: follows the documents, not the file
        int fileCode;              // the file's finding in the first run
    } cases[] = {
        {"a page deep in table FOLDERS", "FOLDERS", "", false, true, "--normal", "--yes", 4, 4, ResultFileDamaged},
        {"a page deep in table FOLDERS", "FOLDERS", "", false, true, "--thorough", "--no", 4, 4, ResultFileDamaged},
        {"a page deep in table FOLDERS", "FOLDERS", "", false, true, "--thorough", "--yes", -1, -1,
         ResultFileSalvaged},
        {"the root of index FOLDERS.parentID", "FOLDERS", "FOLDERS.parentID", false, false, "--normal", "--yes", 1, 0,
         ResultIndexRebuilt},
        {"the root of index FOLDERS.parentID", "FOLDERS", "FOLDERS.parentID", false, false, "--thorough", "--yes", 1,
         0, ResultIndexRebuilt},
        {"the root of the OCR table", "OCRWORDS", "", true, false, "--normal", "--yes", 4, 4, ResultFileDamaged},
        {"the root of the OCR table", "OCRWORDS", "", true, false, "--thorough", "--no", 4, 4, ResultFileDamaged},
        {"the root of the OCR table", "OCRWORDS", "", true, false, "--thorough", "--yes", 1, 0, ResultFileSalvaged},
    };
    for (const Case& c : cases) {
        {
            const char* level = c.level;
            SCOPED_TRACE(std::string(c.name) + " " + level + " " + c.answer);
            qx::test::TempDir dir;
            const SampleManifest m = qx::test::WriteSample(dir, {}, 1500, 20);
            const std::string path = c.omd ? m.omdDatabase : m.mainDatabase;
            const std::string password = c.omd ? "" : PasswordForGeneration(m.generation);
            if (c.omd)  // the sample's OCR database is empty: give it pages
                ArchiveBuilder::Exec(
                    path, "",
                    "WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < 3000) "
                    "INSERT INTO OCRWORDS (DOCUMENTID, PAGE, WORD) SELECT i, 1, hex(randomblob(9)) FROM r");
            Damage(path, password, PageOf(path, password, c.table, c.index, c.deep));
            const std::string args =
                std::string("check ") + level + " " + c.answer + " --json - " + qx::test::ShellQuote(m.mainDatabase);
            const qx::test::CliRun first = qx::test::RunCli(args, dir);
            if (c.exitFirst >= 0) EXPECT_EQ(first.exit, c.exitFirst) << first.out << first.err;
            else EXPECT_TRUE(first.exit == 1 || first.exit == 4) << first.out << first.err;
            EXPECT_EQ((first.out + first.err).find("geen fouten"), std::string::npos);
            // The JSON names the file of the integrity finding, with its state.
            auto fileCodes = [&](const std::string& json) {
                std::vector<int> codes;
                const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
                for (const QJsonValue f : root["findings"].toArray()) {
                    const int code = f.toObject()["code"].toInt();
                    if ((code == ResultFileDamaged || code == ResultIndexRebuilt || code == ResultFileSalvaged) &&
                        f.toObject()["sub_database"].toString().toStdString() == GetFileNamePart(path))
                        codes.push_back(code);
                }
                return codes;
            };
            EXPECT_EQ(fileCodes(first.out), std::vector<int>{c.fileCode}) << first.out;
            const qx::test::CliRun again = qx::test::RunCli(args, dir);
            if (c.exitAgain >= 0) EXPECT_EQ(again.exit, c.exitAgain) << again.out << again.err;
            const bool sound = c.fileCode != ResultFileDamaged;
            EXPECT_EQ(fileCodes(again.out).empty(), sound) << again.out;
            // A salvaged file's damaged original is kept beside its copy.
            EXPECT_EQ(fs::exists(path + ".damaged"), c.fileCode == ResultFileSalvaged);
        }
    }
}

// Agreed, the offer salvages a damaged sub database: its finding is repaired,
// and the documents whose data did not read stay listed as damaged, by name,
// in this run and the next.
TEST(CliIntegrity, AThoroughCheckThatSalvagesASubDatabaseListsTheLostDocuments) {
    qx::test::TempDir dir;
    const SampleManifest m = qx::test::WriteSample(dir, {}, 300, 20);
    const std::string sub = SubDatabaseName(m.mainDatabase, 1);
    Damage(sub, PasswordForGeneration(m.generation), PageOf(sub, PasswordForGeneration(m.generation), "PICTURES", "", true));
    struct Seen {
        std::vector<int> fileCodes;
        std::set<std::string> lost;  // "id name" of every document finding
    };
    auto findings = [&](const std::string& json) {
        Seen seen;
        const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
        for (const QJsonValue v : root["findings"].toArray()) {
            const QJsonObject f = v.toObject();
            if (f["id"].toInt() == 0) {
                if (f["sub_database"].toString().toStdString() == GetFileNamePart(sub)) seen.fileCodes.push_back(f["code"].toInt());
                continue;
            }
            EXPECT_FALSE(f["repaired"].toBool()) << f["name"].toString().toStdString();
            EXPECT_FALSE(f["name"].toString().isEmpty());
            seen.lost.insert(std::to_string(f["id"].toInt()) + " " + f["name"].toString().toStdString());
        }
        return seen;
    };
    const std::string args = "check --thorough --yes --json - " + qx::test::ShellQuote(m.mainDatabase);
    const qx::test::CliRun first = qx::test::RunCli(args, dir);
    EXPECT_EQ(first.exit, 4) << first.err;
    const Seen salvaged = findings(first.out);
    EXPECT_FALSE(salvaged.fileCodes.empty()) << first.out;
    for (int code : salvaged.fileCodes) EXPECT_EQ(code, ResultFileSalvaged);
    EXPECT_FALSE(salvaged.lost.empty()) << "the damaged page held no document's data";
    EXPECT_TRUE(fs::exists(sub + ".damaged"));

    const qx::test::CliRun again = qx::test::RunCli(args, dir);
    const Seen after = findings(again.out);
    EXPECT_TRUE(after.fileCodes.empty()) << again.out;
    EXPECT_EQ(after.lost, salvaged.lost);
}

// Report only, the offer becomes a notice of what a salvage would bring
// back, even when told --yes; not one byte of the archive folder changes.
TEST(CliIntegrity, AReportOnlyThoroughCheckTellsWhatASalvageWouldBringBack) {
    qx::test::TempDir dir;
    const SampleManifest m = qx::test::WriteSample(dir, {}, 1500, 20);
    const std::string password = PasswordForGeneration(m.generation);
    Damage(m.mainDatabase, password, PageOf(m.mainDatabase, password, "FOLDERS", "", true));
    const fs::path folder = fs::path(m.mainDatabase).parent_path();
    auto files = [&] {
        std::map<std::string, std::string> out;
        for (const auto& e : fs::directory_iterator(folder)) out[e.path().filename().string()] = qx::test::Slurp(e.path().string());
        return out;
    };
    const auto was = files();
    const qx::test::CliRun r =
        qx::test::RunCli("check --thorough --dry-run --yes --json - " + qx::test::ShellQuote(m.mainDatabase), dir);
    EXPECT_NE(r.err.find("Alleen rapporteren: bergen zou uit deze beschadigde bestanden"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Wilt u bergen"), std::string::npos) << r.err;
    EXPECT_TRUE(files() == was) << "the archive folder changed";
    // The finding is what a run that agreed would report, as a repair not made.
    bool wouldSalvage = false;
    const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
    for (const QJsonValue f : root["findings"].toArray())
        wouldSalvage |= f.toObject()["code"].toInt() == ResultFileSalvaged && f.toObject()["would_be_repaired"].toBool() &&
                        !f.toObject()["repaired"].toBool();
    EXPECT_TRUE(wouldSalvage) << r.out;
}

namespace {

// Another program takes a file the moment the integrity pass begins (its
// progress window is the first shown), after the check itself has opened
// the archive.
class HoldingWindow : public qx::test::ScriptedWindow {
public:
    std::function<void()> onFirstShow;
    void ProgressShow(const ProgressView& v) override {
        ScriptedWindow::ProgressShow(v);
        if (onFirstShow) std::exchange(onFirstShow, nullptr)();
    }
};

// The engine's wait for a lock, shortened for the test's sake.
struct ShortBusyWait {
    int saved = sql::BusyTimeout();
    ShortBusyWait() { sql::SetBusyTimeout(200); }
    ~ShortBusyWait() { sql::SetBusyTimeout(saved); }
};

CheckRunFacts FactsOf(const CDatabase& db) {
    CheckRunFacts facts;
    TakeCheckFindings(facts, db.Findings());
    return facts;
}

bool Shown(const qx::test::ScriptedWindow& w, MsgIcon icon) {
    return std::any_of(w.boxes.begin(), w.boxes.end(), [&](const auto& b) { return b.icon == icon; });
}

}  // namespace

// A file another program holds is not read: the run ends as in use (exit 8)
// and names the file, never "no errors" and never damage.
TEST_F(Integrity, AFileHeldByAnotherProgramEndsTheRunAsInUse) {
    enum class File { Main, Omd, Sub };
    const struct Case {
        const char* name;
        File file;
    } cases[] = {{"the main database", File::Main}, {"the OCR database", File::Omd}, {"a sub database", File::Sub}};
    const ShortBusyWait shortWait;
    for (const Case& c : cases) {
        for (short flags : {kNormal, kThorough}) {
            SCOPED_TRACE(std::string(c.name) + (flags == kNormal ? ", normal check" : ", thorough check"));
            const std::string path = c.file == File::Main ? a.main : c.file == File::Omd ? OmdName(a.main)
                                                                                        : SubDatabaseName(a.main, 1);
            const std::string password = c.file == File::Omd ? "" : a.password;
            HoldingWindow window;
            CDatabase db(window, window.env());
            Settings::Get().DatabasePassword = a.password;
            Settings::Get().DatabaseVersion = 8;
            db.m_bShowErrors = false;
            ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, a.password)));
            sql::Database holder;
            window.onFirstShow = [&] {
                sql::Error err;
                holder = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(password), sql::OpenMode::ReadWrite, err);
                ASSERT_TRUE(holder.exec("BEGIN EXCLUSIVE", &err)) << err.message;
            };
            window.boxes.clear();
            short f = flags;
            db.Analyse(f);
            ASSERT_FALSE(window.onFirstShow) << "the integrity pass showed no progress";

            EXPECT_EQ(db.Findings().inUse, std::vector<std::string>{path});
            const CheckRunFacts facts = FactsOf(db);
            EXPECT_EQ(CheckOutcome(facts), "in_use");
            EXPECT_EQ(CheckExitCode(facts), 8);
            for (const Finding& finding : db.Findings().all())
                EXPECT_TRUE(finding.code != ResultFileDamaged && finding.code != ResultDatabaseError)
                    << finding.code << " " << finding.name;
            EXPECT_FALSE(Shown(window, MsgIcon::Information));
            EXPECT_FALSE(db.Findings().cancelled);
            holder.exec("ROLLBACK");
        }
    }
}

// Cancel during the integrity pass: the check ends as cancelled before the
// documents, whatever the files read so far showed.
TEST_F(Integrity, ACancelDuringTheIntegrityPassEndsTheCheckAsCancelled) {
    const struct Case {
        const char* name;
        short flags;
        int cancelAtEvent;     // the pass turns the event loop once before each file
        std::string shownFile;  // the file the progress window named last
    } cases[] = {
        {"normal check, before the first file", kNormal, 1, a.main},
        {"normal check, before the OCR database", kNormal, 2, OmdName(a.main)},
        {"thorough check, before the sub database", kThorough, 3, SubDatabaseName(a.main, 1)},
    };
    // What was read before the cancel is damaged: still no "no errors", and
    // still a cancelled run.
    Damage(a.main, a.password, PageOf(a.main, a.password, "words", "", true));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qx::test::ScriptedWindow window;
        window.cancelAfterEvents = c.cancelAtEvent;
        CDatabase db(window, window.env());
        Settings::Get().DatabasePassword = a.password;
        Settings::Get().DatabaseVersion = 8;
        db.m_bShowErrors = false;
        ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, a.password)));
        window.boxes.clear();
        short f = c.flags;
        db.Analyse(f);

        EXPECT_NE(window.lastProgress.currentItem.find(c.shownFile), std::string::npos)
            << window.lastProgress.currentItem;
        EXPECT_TRUE(db.Findings().cancelled);
        EXPECT_EQ(db.Findings().checked, 0);
        EXPECT_EQ(db.Findings().total, 3);
        const CheckRunFacts facts = FactsOf(db);
        EXPECT_EQ(CheckOutcome(facts), "cancelled");
        EXPECT_EQ(CheckExitCode(facts), 32);
        EXPECT_FALSE(Shown(window, MsgIcon::Information));
        ASSERT_FALSE(window.boxes.empty());
        EXPECT_EQ(window.boxes.back().title, GetResString(261, ""));
        EXPECT_EQ(window.boxes.back().text.find("geen fouten"), std::string::npos);
        // The walk never began: no document was decoded or listed.
        for (const std::string& call : window.calls) EXPECT_EQ(call.rfind("LoadImage", 0), std::string::npos);
        EXPECT_TRUE(window.State().m_bListPartial);
    }
}
