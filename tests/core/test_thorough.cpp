// The thorough check: graphical documents loaded, imported files repaired
// after their bytes are safe in a backup file, trash support added, the
// offer to compact large sub databases, and the summary of backups.
#include "database/checks/Backup.h"
#include "database/checks/ResultCodes.h"
#include "support/Settings.h"
#include "tests/core/CDatabaseTestAccess.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/SubDatabaseArchive.h"
#include "tests/core/WriteWatch.h"
#include "tools/sample/SampleContent.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <ranges>
#include <set>
#include <tuple>

using namespace qx;
using qx::test::Archive;
using qx::test::Logged;
using qx::test::TempDir;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Wide(const std::string& s) {
    Bytes out;
    for (unsigned char c : s) out.push_back(c), out.push_back(0);
    return out;
}

void Put(const std::string& file, long id, const Bytes& data) {
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), file, engine::PasswordBytes(qx::test::kPwd), sql::OpenMode::ReadWrite, err);
    ASSERT_TRUE(db.isOpen()) << err.message;
    sql::Statement st(db, "INSERT OR REPLACE INTO PICTURES (ID, PICTURE) VALUES (?, ?)");
    st.bind(1, static_cast<std::int64_t>(id));
    st.bindBlob(2, data);
    ASSERT_TRUE(st.run()) << st.error().message;
}

Bytes Picture(const std::string& file, long id) {
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), file, engine::PasswordBytes(qx::test::kPwd), sql::OpenMode::ReadOnly, err);
    sql::Statement st(db, "SELECT PICTURE FROM PICTURES WHERE ID = " + std::to_string(id));
    return st.step() == sql::Step::Row ? st.getBlob(0) : Bytes{};
}

std::vector<std::string> BackupFiles(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".bak") out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

// Cancel is pressed as the walk reports its N-th finding (the counters show
// findings as they come; the list gets them in folder order at the end).
class CancelAtRow : public qx::test::ScriptedWindow {
public:
    void UpdateStatusBar() override {
        ScriptedWindow::UpdateStatusBar();
        if (cancelAtRow > 0 && State().m_nDamaged + State().m_nFixed >= cancelAtRow) progressVisible = false;
    }
    int cancelAtRow = -1;
};

// The decode workers a test asks for, for the length of a scope.
class DecodeWorkersSet {
public:
    explicit DecodeWorkersSet(int n) { setenv("QUILLEX_DECODE_WORKERS", std::to_string(n).c_str(), 1); }
    ~DecodeWorkersSet() { unsetenv("QUILLEX_DECODE_WORKERS"); }
};

struct Outcome {
    std::map<long, short> findings;
    std::vector<std::string> rows;  // list keys in the order they came
    bool analysed = false;
    std::vector<qx::test::ScriptedWindow::Box> boxes;
    std::vector<std::string> calls;
};

class Thorough : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::Reset();
        Settings::Get().LogFileName = dir.file("Kantoor.log");
        Settings::Get().DatabasePassword = a.password;
        Settings::Get().DatabaseVersion = 8;
        a.standardSub(1);
        a.standardSub(2);
    }
    void TearDown() override { Settings::Reset(); }

    void doc(long id, long sub, const std::string& template1, const Bytes& data, bool trashed = false) {
        a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID, TEMPLATE1, TRASHMARK) VALUES (" +
               std::to_string(id) + ", 1, 0, 'doc" + std::to_string(id) + "', " + std::to_string(sub) + ", " +
               (template1.empty() ? "NULL" : "'" + template1 + "'") + ", " + (trashed ? "-1" : "0") + ")");
        Put(a.at(sub), id, data);
    }
    // The markers of the sub databases are data rows without a document;
    // only a link check would list them, so they are left out.
    // `cancelAtRow`: Cancel is pressed as that list row (counted from 1)
    // is added.
    Outcome run(bool dryRun = false, std::deque<MsgAnswer> answers = {}, bool compactCancel = false,
                bool decodeAhead = true, int cancelAtRow = -1) {
        CancelAtRow window;
        window.cancelAtRow = cancelAtRow;
        window.decodeAhead = decodeAhead;
        window.answers = std::move(answers);
        window.compactCanceled = compactCancel;
        CDatabase db(window, window.env());
        db.m_bShowErrors = false;
        db.SetDryRun(dryRun);
        EXPECT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, a.password)));
        short flags = checkFlags;
        db.Analyse(flags);
        Outcome o;
        for (const ListRow& r : window.lists[ListId::Documents]) {
            if (!r.key.empty()) o.findings[std::stol(r.key.substr(2))] = static_cast<short>(r.tag);
            o.rows.push_back(r.key);
        }
        o.analysed = window.state.m_bAnalysed;
        o.boxes = window.boxes;
        o.calls = window.calls;
        return o;
    }

    TempDir dir;
    Archive a{dir.path()};
    short checkFlags = 319 & ~32;  // the thorough check without the link check
};

const std::string kPdfText = "%PDF-1.4 een gescand document";
const Bytes kWidenedPdf = Wide(kPdfText);
const Bytes kHalfZero = [] {
    Bytes b(24, 0);
    std::ranges::copy(std::string_view("Word-bestand"), b.begin());
    return b;
}();

class Backups : public Thorough {
protected:
    // Runs the backups of `ids` in one run; their results.
    // The bytes backed up for a document: its ID, 0, and the call number (1 every time with sameBytesAgain).
    std::vector<bool> backup(const std::vector<long>& ids, const std::string& mask, bool dryRun = false,
                             bool sameBytesAgain = false) {
        qx::test::ScriptedWindow window;
        CDatabase db(window, window.env());
        db.m_bShowErrors = false;
        db.SetDryRun(dryRun);
        EXPECT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a.main, a.password)));
        std::vector<bool> out;
        int call = 0;
        for (long id : ids) {
            const Bytes data{static_cast<std::uint8_t>(id), 0, static_cast<std::uint8_t>(sameBytesAgain ? 1 : ++call)};
            out.push_back(CDatabaseTestAccess::BackupOriginalField(db, mask, id, data, "\\Map\\doc" + std::to_string(id)));
        }
        return out;
    }
};

struct TrashState {
    bool table = false, column = false;
    std::map<long, std::string> rows;  // id -> virtual path
    std::set<std::size_t> stampLengths;
};

}  // namespace

// Images are loaded, imported files repaired after a backup; a second run
// reports only what stays damaged and writes no backup.
TEST_F(Thorough, RepairsAfterABackupAndASecondRunFindsOnlyWhatStaysDamaged) {
    doc(2, 1, "PDF", kWidenedPdf);
    doc(3, 1, "DOC", kHalfZero);
    doc(4, 1, "", sample::TruncatedJpeg(320, 240, 60, 3));
    doc(5, 2, "MP5", sample::MultipageTiff(3, 200, 280, 4));
    doc(6, 2, "PDF", kWidenedPdf, true);  // in the trash: never converted
    doc(7, 2, "", sample::MultipageTiff(3, 200, 280, 4, true));

    const Outcome first = run();
    EXPECT_EQ(first.findings, (std::map<long, short>{{2, ResultDoubleByteFormatFixed},
                                                      {3, ResultDoubleByteFormatFixed},
                                                      {4, ResultCorruptDocument},
                                                      {7, ResultCorruptDocument}}));
    EXPECT_TRUE(first.analysed);
    EXPECT_EQ(Picture(a.at(1), 2), Bytes(kPdfText.c_str(), kPdfText.c_str() + kPdfText.size() + 1));
    EXPECT_EQ(Picture(a.at(1), 3), Bytes(kHalfZero.begin(), kHalfZero.begin() + 13));
    EXPECT_EQ(Picture(a.at(2), 6), kWidenedPdf);
    EXPECT_TRUE(Logged("4 - Unable to load document"));
    // The decoder's own words, page included.
    const auto loggedAs = [](const std::string& start, const std::string& words) {
        return std::ranges::any_of(qx::test::LogLines(), [&](const std::string& line) {
            return line.starts_with(start) && line.find(words) != std::string::npos;
        });
    };
    EXPECT_TRUE(loggedAs("Error loading from database (1024): ", "premature end of data segment"));
    EXPECT_TRUE(loggedAs("Error loading from database (1024): page 3: ", "strip"));

    // One backup file, sequence 01, with the bytes as they were.
    const auto backups = BackupFiles(dir.path());
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_TRUE(backups[0].ends_with("01.bak"));
    EXPECT_EQ(Picture(backups[0], 2), kWidenedPdf);
    EXPECT_EQ(Picture(backups[0], 3), kHalfZero);
    EXPECT_EQ(qx::test::Query(backups[0], "SELECT ID, path FROM PICTURES")[2], "\\Map\\doc2");
    EXPECT_EQ(qx::test::Query(a.at(1), "SELECT ID, path FROM PICTURES WHERE ID = 2")[2], "[F]");
    ASSERT_FALSE(first.boxes.empty());
    EXPECT_EQ(first.boxes.back().title, "Back-ups...");
    EXPECT_NE(first.boxes.back().text.find(fs::path(backups[0]).filename().string()), std::string::npos);

    const Outcome second = run();
    EXPECT_EQ(second.findings, (std::map<long, short>{{4, ResultCorruptDocument}, {7, ResultCorruptDocument}}));
    EXPECT_EQ(BackupFiles(dir.path()), backups);
    for (const auto& box : second.boxes) EXPECT_NE(box.title, "Back-ups...");
}

class Relink : public Thorough {
protected:
    void check(bool linkCheck) {
        const Bytes broken = sample::TruncatedJpeg(160, 120, 50, 3), sound = sample::MultipageTiff(2, 64, 64, 1);
        struct Case {
            const char* name;
            long id;
            std::string template1;
            bool dataRow;  // an empty row in sub database 1; else no row there
            Bytes copy;    // in sub database 2
            short code;
            long linkedAfter;
        } cases[] = {
            {"empty, the copy does not load", 20, "", true, broken, ResultEmptyDocument, 1},
            {"empty, the copy loads", 21, "", true, sound, ResultEmptyFixed, 2},
            {"no data, the copy does not load", 22, "", false, broken, ResultBadLink, 1},
            {"no data, the copy loads", 23, "", false, sound, ResultBadLinkFixed, 2},
            {"an empty page whose copy does not load", 24, "MC30", true, broken, ResultEmptyDocument, 1},
            {"an empty imported file", 25, "PDF", true, Bytes(kPdfText.begin(), kPdfText.end()), ResultEmptyFixed, 2},
        };
        checkFlags = linkCheck ? 319 : 319 & ~32;
        doc(30, 1, "MP30", sample::MultipageTiff(1, 64, 64, 2));
        for (const Case& c : cases) {
            if (c.dataRow) {
                doc(c.id, 1, c.template1, {});
            } else {
                a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID, TEMPLATE1) VALUES (" +
                       std::to_string(c.id) + ", 1, 0, 'doc', 1, " +
                       (c.template1.empty() ? "NULL" : "'" + c.template1 + "'") + ")");
            }
            Put(a.at(2), c.id, c.copy);
        }
        const Outcome first = run();
        for (const Case& c : cases) {
            EXPECT_EQ(first.findings.count(c.id) ? first.findings.at(c.id) : 0, c.code) << c.name;
            EXPECT_EQ(qx::test::Query(a.main, "SELECT ID, DATABASEID FROM FOLDERS WHERE ID = " + std::to_string(c.id))[c.id],
                      std::to_string(c.linkedAfter))
                << c.name;
        }
        EXPECT_TRUE(std::ranges::any_of(qx::test::LogLines(), [](const std::string& line) {
            return line.starts_with("20 - the copy in '") && line.find("does not load, not used: ") != std::string::npos;
        }));
        // What was relinked loads: a second run repairs nothing.
        for (const auto& [id, code] : run().findings) EXPECT_FALSE(IsRepaired(code)) << id << " " << code;
    }
};

// A thorough run judges a copy in another sub database as it would judge
// the document: a graphical document is not relinked to a copy that does
// not load, in the document walk nor in the link check after it; an
// imported file's copy is not an image and is not decoded.
TEST_F(Relink, InTheDocumentWalkOnlyToACopyThatLoads) { check(false); }
TEST_F(Relink, InTheLinkCheckOnlyToACopyThatLoads) { check(true); }

// Data without a document gets one in the link check; in a thorough run the
// new document is judged at once, so the next run finds nothing new.
TEST_F(Relink, ADocumentMadeForDataWithoutOneIsJudged) {
    checkFlags = 319;
    doc(30, 1, "", sample::MultipageTiff(1, 64, 64, 2));
    Put(a.at(1), 40, sample::TruncatedJpeg(160, 120, 50, 3));
    Put(a.at(2), 41, sample::MultipageTiff(2, 64, 64, 1));
    const Outcome first = run(), second = run();
    EXPECT_EQ(first.findings.at(40), ResultCorruptDocument);
    EXPECT_EQ(first.findings.at(41), ResultLinkCreated);
    EXPECT_EQ(second.findings.count(41), 0u);
    EXPECT_EQ(second.findings.at(40), ResultCorruptDocument);
    for (const auto& [id, code] : second.findings) EXPECT_FALSE(IsRepaired(code)) << id << " " << code;
}

// Decoding ahead on worker threads changes nothing the user sees: the same
// findings, list rows and log lines, in the same order, as one decode after
// the other on the check's own thread, whatever the number of workers, with
// documents in runs of one sub database and alternating between two.
TEST_F(Thorough, DecodingAheadKeepsTheDocumentOrder) {
    for (long id = 10; id < 50; ++id) {
        const long sub = id < 30 ? 1 : 1 + id % 2;
        if (id % 7 == 0) doc(id, sub, "", sample::TruncatedJpeg(160, 120, 50, static_cast<std::uint32_t>(id)));
        else if (id % 5 == 0) doc(id, sub, "PDF", kWidenedPdf);
        else if (id % 11 == 0) doc(id, sub, "MC12", Bytes(40, 0x33));
        else doc(id, sub, "", sample::MultipageTiff(2, 64, 90, static_cast<std::uint32_t>(id)));
    }
    // Report-only runs: every run sees the archive as it is.
    const auto runLogged = [&](bool ahead) {
        const std::size_t before = qx::test::LogLines().size();
        Outcome o = run(true, {}, false, ahead);
        const auto lines = qx::test::LogLines();
        return std::pair(o, std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end()));
    };
    const auto [alone, aloneLog] = runLogged(false);
    EXPECT_EQ(std::ranges::count(alone.findings | std::views::values, ResultCorruptDocument), 6 + 4);
    for (const int workers : {1, 2, 4, 8}) {
        DecodeWorkersSet set(workers);
        const auto [ahead, aheadLog] = runLogged(true);
        EXPECT_EQ(ahead.rows, alone.rows) << workers << " workers";
        EXPECT_EQ(ahead.findings, alone.findings) << workers << " workers";
        EXPECT_EQ(aheadLog, aloneLog) << workers << " workers";
    }
}

// Cancel ends the walk at the document it is at: the images the workers
// decoded for later documents are not reported.
TEST_F(Thorough, ACancelledWalkReportsNothingDecodedAhead) {
    for (long id = 10; id < 40; ++id) {
        const long sub = 1 + id % 2;
        if (id % 3 == 0) doc(id, sub, "", sample::TruncatedJpeg(160, 120, 50, static_cast<std::uint32_t>(id)));
        else doc(id, sub, "", sample::MultipageTiff(3, 64, 90, static_cast<std::uint32_t>(id)));
    }
    const Outcome whole = run(true, {}, false, false);
    ASSERT_EQ(whole.rows.size(), 10u);
    // The walk goes by sub database, then ID: the findings come as 12, 18,
    // 24, 30, 36 (first file), then 15, 21, 27, 33, 39.
    const std::vector<std::string> walkOrder = {"ID12", "ID18", "ID24", "ID30", "ID36",
                                                "ID15", "ID21", "ID27", "ID33", "ID39"};
    for (const int workers : {1, 2, 4, 8}) {
        DecodeWorkersSet set(workers);
        for (const int cancelAt : {1, 4, 9}) {
            const Outcome cut = run(true, {}, false, true, cancelAt);
            std::vector<std::string> before;
            for (const std::string& row : whole.rows)
                if (std::find(walkOrder.begin(), walkOrder.begin() + cancelAt, row) != walkOrder.begin() + cancelAt)
                    before.push_back(row);
            EXPECT_EQ(cut.rows, before) << workers << " workers, cancelled at row " << cancelAt;
            EXPECT_FALSE(cut.analysed) << workers << " workers, cancelled at row " << cancelAt;
        }
    }
}

// A report-only run finds and reports what a real run does and changes
// nothing: no backup file, no stored byte, no trash table.
TEST_F(Thorough, ADryRunReportsTheSameAndChangesNothing) {
    doc(2, 1, "PDF", kWidenedPdf);
    doc(4, 1, "", sample::TruncatedJpeg(320, 240, 60, 3));
    a.exec("DROP TABLE trash");
    const auto before = qx::test::FolderStamps(dir.path(), false);
    const Outcome dry = run(true);
    EXPECT_EQ(dry.findings, (std::map<long, short>{{2, ResultDoubleByteFormatFixed}, {4, ResultCorruptDocument}}));
    EXPECT_EQ(qx::test::FolderStamps(dir.path(), false), before);
    EXPECT_EQ(run().findings, dry.findings);
}

// A backup that cannot be written leaves the document as it is, reported
// as damaged.
TEST_F(Thorough, WithoutABackupTheDocumentIsNotRewritten) {
    doc(2, 1, "PDF", kWidenedPdf);
    // Every name this minute and the next would take is a folder.
    const QDateTime now = QDateTime::currentDateTime();
    for (const QDateTime& t : {now, now.addSecs(60)})
        for (int s = 1; s <= 98; ++s) fs::create_directories(BackupFileName(BackupFileMask(a.main, t), s));
    EXPECT_EQ(run().findings, (std::map<long, short>{{2, ResultDoubleByteFormat}}));
    EXPECT_EQ(Picture(a.at(1), 2), kWidenedPdf);
    EXPECT_TRUE(Logged("An error occured while creating a backup file. Sequence exceeded!"));
    EXPECT_TRUE(Logged("2 - Unable to fix double-byte file format!"));
}

// Sub databases above 660 MB are offered for compaction before any
// document is visited; refusing or cancelling ends the check there.
TEST_F(Thorough, LargeSubDatabasesAreOfferedForCompactionFirst) {
    doc(2, 1, "", sample::MultipageTiff(1, 64, 64, 1));
    a.list(3, a.at(3));
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (9, 1, 0, 'groot', 3)");
    const std::int64_t limit = 660LL * 1024 * 1024;
    struct Case {
        const char* name;
        std::int64_t size;
        std::deque<MsgAnswer> answers;
        bool cancelCompaction;
        bool asked, compacted, checked;
    } cases[] = {
        {"exactly 660 MB is not offered", limit, {}, false, false, false, true},
        {"one byte more is; Cancel ends the check", limit + 1, {MsgAnswer::Cancel}, false, true, false, false},
        {"OK compacts, then the check runs", limit + 1, {MsgAnswer::OK}, false, true, true, true},
        {"cancelling the compaction ends the check", limit + 1, {MsgAnswer::OK}, true, true, true, false},
    };
    for (const Case& c : cases) {
        fs::remove(a.at(3));
        { std::ofstream(a.at(3), std::ios::binary); }
        fs::resize_file(a.at(3), static_cast<std::uintmax_t>(c.size));
        const Outcome o = run(false, c.answers, c.cancelCompaction);
        const bool asked = std::ranges::any_of(o.boxes, [](auto& b) { return b.buttons == MsgButtons::OKCancel; });
        const bool compacted = std::ranges::count(o.calls, "CompactStatus Bezig met comprimeren databestand 1 / 1...") == 1;
        const bool checked = std::ranges::count(o.calls, "ProgressShow") > 0;
        EXPECT_EQ(std::tuple(asked, compacted, checked, o.analysed),
                  std::tuple(c.asked, c.compacted, c.checked, c.checked))
            << c.name << " (asked, compacted, checked, analysed)";
    }
}

TEST(BackupNames, MaskAndSequence) {
    const QDateTime when(QDate(2024, 3, 5), QTime(14, 7));
    EXPECT_EQ(BackupFileMask("/a/Data.dat", when), "/a/Data202403051407##.bak");
    EXPECT_EQ(BackupFileMask("/a.b/Data", when), "/a.b/Data202403051407##.bak");
    EXPECT_EQ(BackupFileName("/a/Data202403051407##.bak", 1), "/a/Data20240305140701.bak");
    EXPECT_EQ(BackupFileName("/a/Data202403051407##.bak", 98), "/a/Data20240305140798.bak");
}

TEST_F(Backups, SequenceReuseAndLimits) {
    const std::string mask = BackupFileMask(a.main, QDateTime(QDate(2024, 3, 5), QTime(14, 7)));
    const std::string outside = dir.file("elsewhere.db");
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::vector<long> ids;
        std::vector<bool> results;
        std::vector<int> files;  // sequence numbers of backup databases afterwards
        std::string logged;
        int version = 8;
        bool dryRun = false;
        bool sameBytesAgain = false;
    } cases[] = {
        {"the first backup creates 01, the next joins it", [] {}, {7, 8}, {true, true}, {1},
         "Using data backup file '" + BackupFileName(mask, 1) + "'"},
        {"the same document again, other bytes: refused", [] {}, {7, 7}, {true, false}, {1},
         "Error: could not assign new entry! Entry #7 already exists."},
        {"the same document again, the same bytes: already safe", [] {}, {7, 7}, {true, true}, {1},
         "Entry #7 is already backed up in '" + BackupFileName(mask, 1) + "'", 8, false, true},
        {"a full file is passed over", [&] {
             { std::ofstream(BackupFileName(mask, 1), std::ios::binary); }
             fs::resize_file(BackupFileName(mask, 1), kBackupFullKB * 1024);
         }, {7}, {true}, {2}, ""},
        {"a link under the name is not followed", [&] {
             { std::ofstream(outside, std::ios::binary) << "not ours"; }
             fs::create_symlink(outside, BackupFileName(mask, 1));
         }, {7}, {true}, {2}, ""},
        {"98 names taken: the sequence is exceeded", [&] {
             for (int s = 1; s <= 98; ++s) fs::create_directory(BackupFileName(mask, s));
         }, {7}, {false}, {}, "An error occured while creating a backup file. Sequence exceeded!"},
        {"a generation-7 archive never gets a backup", [] {}, {7}, {false}, {}, "Invalid version (7)!", 7},
        {"a dry run writes none", [] {}, {7}, {false}, {}, "", 8, true},
    };
    for (const Case& c : cases) {
        for (int s = 1; s <= 99; ++s) fs::remove_all(BackupFileName(mask, s));
        fs::remove(outside);
        c.prepare();
        Settings::Get().DatabaseVersion = c.version;
        EXPECT_EQ(backup(c.ids, mask, c.dryRun, c.sameBytesAgain), c.results) << c.name;
        Settings::Get().DatabaseVersion = 8;
        std::vector<int> files;
        for (int s = 1; s <= 99; ++s)
            if (fs::is_regular_file(fs::symlink_status(BackupFileName(mask, s))) && qx::test::MarkerOf(BackupFileName(mask, s)) != -1)
                files.push_back(s);
        EXPECT_EQ(files, c.files) << c.name;
        if (!c.logged.empty()) { EXPECT_TRUE(Logged(c.logged)) << c.name; }
        if (!c.files.empty()) {
            const auto rows = qx::test::Query(BackupFileName(mask, c.files[0]), "SELECT ID, path FROM PICTURES");
            EXPECT_EQ(rows.at(7), "\\Map\\doc7") << c.name;
        }
        if (fs::exists(outside)) { EXPECT_EQ(qx::test::Slurp(outside), "not ours") << c.name; }
    }
}

// Trash support is added once, to a generation-8 archive that lacks it;
// trashed documents then get their trash row.
TEST_F(Thorough, TrashSupportIsAddedWhereItLacks) {
    struct Case {
        const char* name;
        std::function<void(Archive&)> prepare;
        int version;
        bool dryRun;
        bool result;
        TrashState after;
    } cases[] = {
        {"present: nothing is visited", [](Archive& x) {
             x.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, TRASHMARK) VALUES (20, 1, 0, 'weg', -1)");
         }, 8, false, true, {true, true, {}, {}}},
        {"table missing: added, one row per trashed document", [](Archive& x) {
             x.exec("DROP TABLE trash");
             x.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, TRASHMARK) VALUES (20, 1, 0, 'weg', -1), "
                    "(21, 77, 0, 'kwijt', -1), (22, 1, 0, 'blijft', 0)");
         }, 8, false, true, {true, true, {{20, "\\Map\\"}, {21, "\\"}}, {12}}},
        {"table and column missing: both added", [](Archive& x) {
             x.exec("DROP TABLE trash");
             x.exec("ALTER TABLE FOLDERS RENAME TO OLD; CREATE TABLE FOLDERS AS SELECT ID, PARENT, ISFOLDER, NAME, "
                    "DATABASEID, TEMPLATE1 FROM OLD; DROP TABLE OLD");
         }, 8, false, true, {true, true, {}, {}}},
        {"generation 7 is never converted", [](Archive& x) { x.exec("DROP TABLE trash"); }, 7, false, false,
         {false, true, {}, {}}},
        {"a dry run adds nothing", [](Archive& x) { x.exec("DROP TABLE trash"); }, 8, true, false, {false, true, {}, {}}},
    };
    for (const Case& c : cases) {
        TempDir d;
        Archive x(d.path());
        c.prepare(x);
        Settings::Get().DatabaseVersion = c.version;
        qx::test::ScriptedWindow window;
        CDatabase db(window, window.env());
        db.m_bShowErrors = false;
        db.SetDryRun(c.dryRun);
        ASSERT_TRUE(db.OpenDatabase(CDatabase::ConnectString(x.main, x.password))) << c.name;
        EXPECT_EQ(CDatabaseTestAccess::EnableTrashSupport(db), c.result) << c.name;
        db.m_AdoCnMain.reset();
        const auto q = [&](const std::string& text) { return qx::test::Query(x.main, text); };
        EXPECT_EQ(q("SELECT 0, count(*) FROM trash").count(0), c.after.table) << c.name;
        EXPECT_EQ(q("SELECT 0, count(TRASHMARK) FROM FOLDERS").count(0), c.after.column) << c.name;
        EXPECT_EQ(q("SELECT id, virtualpath FROM trash"), c.after.rows) << c.name;
        std::set<std::size_t> stamps;
        for (const auto& row : q("SELECT DISTINCT length(datetime), 0 FROM trash")) stamps.insert(row.first);
        EXPECT_EQ(stamps, c.after.stampLengths) << c.name;
    }
    EXPECT_TRUE(Logged("21 - Invalid virtual path (in trash)!"));
    Settings::Get().DatabaseVersion = 8;
}
