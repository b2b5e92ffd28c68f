#include "support/Env.h"
// The sub-database table and list: ManagePdbList and UnlinkUnused, and the
// checks that keep both away from files that are not the archive's own.
#include "database/CDatabase.h"
#include "support/FileOperations.h"
#include "support/HumanFormat.h"
#include "support/TextResources.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/SubDatabaseArchive.h"


#include <functional>
#include <memory>

namespace qx {
struct PdbListTestAccess {
    static bool File(const CDatabase& db, const std::string& p) { return db.IsArchiveFile(p); }
    static bool Sub(const CDatabase& db, const std::string& p, bool* ro) { return db.IsArchiveSubDatabase(p, ro); }
};
}  // namespace qx

using namespace qx;
using namespace qx::test;
namespace fs = std::filesystem;

namespace {

class PdbList : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::Reset();
        Settings::Get().DatabasePassword = kPwd;
        Settings::Get().LogFileName = dir.file("Kantoor.log");
    }
    void TearDown() override { Settings::Reset(); }
    std::unique_ptr<CDatabase> Open(const Archive& a) {
        auto db = std::make_unique<CDatabase>(window, window.env());
        EXPECT_TRUE(db->OpenDatabase(CDatabase::ConnectString(a.main, kPwd)));
        window.boxes.clear();
        return db;
    }
    const std::vector<ListRow>& Rows() { return window.lists[ListId::Picbases]; }

    TempDir dir, other;
    ScriptedWindow window;
};

}  // namespace

TEST_F(PdbList, OnlyFilesOfTheArchiveFolderCountAsItsOwn) {
    CDatabase none(window, window.env());  // nothing open: nothing is touched
    EXPECT_FALSE(none.ManagePdbList() || none.UnlinkUnused(true) || PdbListTestAccess::File(none, dir.path()));
    EXPECT_TRUE(window.calls.empty());

    Archive a(dir.path());
    MakeSub(a.at(1), 101);
    MakeSub(other.file("Kantoor_2.pdb"), 102);
    MakeSub(dir.file("Kantoor_3.pdb"), 103, kOldPwd);
    WriteFile(dir.file("Kantoor_4.pdb"), "not a database");
    fs::create_directory(dir.file("Kantoor_5.pdb"));
    fs::create_symlink(other.file("Kantoor_2.pdb"), dir.file("Kantoor_6.pdb"));
    fs::create_symlink(a.at(1), dir.file("Kantoor_7.pdb"));
    fs::create_directory(other.file("deep"));
    fs::create_symlink(other.file("deep"), dir.file("hop"));
    fs::create_symlink(a.main, dir.file("Kantoor_8.pdb"));
    fs::create_directory(dir.file("inner"));
    fs::create_symlink(a.at(1), dir.file("inner/Kantoor_1.pdb"));
    WriteFile(LogName(a.main), "log\r\n");
    const std::string up = dir.path() + "/../" + fs::path(other.path()).filename().string() + "/Kantoor_2.pdb";
    auto db = Open(a);
    const std::tuple<const char*, std::string, bool, bool> cases[] = {  // name, path, file, sub database
        {"sub database", a.at(1), true, true},
        {"outside folder", other.file("Kantoor_2.pdb"), false, false},
        {"'..' out of the folder", up, false, false},
        {"link in the folder, then '..'", dir.path() + "/hop/../Kantoor_2.pdb", false, false},
        {"link to outside", dir.file("Kantoor_6.pdb"), false, false},
        // Read through, never written through: a link is no file of the archive.
        {"link to a sub database inside", dir.file("Kantoor_7.pdb"), false, false},
        {"link in a subfolder to a sub database inside", dir.file("inner/Kantoor_1.pdb"), false, false},
        {"link to the main database", dir.file("Kantoor_8.pdb"), false, false},
        {"main database", a.main, false, false},
        {"OCR database", OmdName(a.main), false, false},
        {"log", LogName(a.main), false, false},
        {"wrong password", dir.file("Kantoor_3.pdb"), true, false},
        {"text file named like a sub database", dir.file("Kantoor_4.pdb"), true, false},
        {"folder", dir.file("Kantoor_5.pdb"), false, false},
    };
    for (const auto& [name, path, file, sub] : cases) {
        bool readOnly = true;
        EXPECT_EQ(std::pair(PdbListTestAccess::File(*db, path), PdbListTestAccess::Sub(*db, path, &readOnly)),
                  std::pair(file, sub)) << name << " (archive file, sub database)";
        EXPECT_FALSE(sub && readOnly) << name;
    }
    EXPECT_FALSE(db->ManagePdbList()) << "an empty table";
    EXPECT_TRUE(Rows().empty() && window.boxes.empty());
}

TEST_F(PdbList, RowsFollowTheFilesFoundAndWhatIsMissingIsReported) {
    Archive a(dir.path());
    a.exec("INSERT INTO memos (id, memotext) VALUES (1, zeroblob(1500000))");  // the main database counts too
    const std::uintmax_t bytes[] = {500, 1048575, 1048576, 5ull * 1024 * 1024 * 1024 + 1023};  // beyond 32 bits
    for (long n = 1; n <= 4; ++n) {
        WriteFile(a.at(n), "");
        fs::resize_file(a.at(n), bytes[n - 1]);
        a.list(n, "/old/place/Kantoor_" + std::to_string(n) + ".pdb");  // the row is pointed at the file found
    }
    a.list(0, "/somewhere/Kantoor_0.pdb");  // goes, while documents without stored data stay
    for (auto [id, n] : {std::pair{10, 0}, {11, 0}, {12, 5}}) a.doc(id, n);  // 5: no row and no file,
    a.exec("INSERT INTO DATABASES (ID) VALUES (6)");                          // 6: no path and no file
    WriteFile(other.file("Kantoor_7.pdb"), std::string(2 * 1048576, 'x'));
    a.list(7, other.file("Kantoor_7.pdb"));  // found only under its stored path
    MakeSub(other.file("x.pdb"), 999);
    fs::create_symlink(other.file("x.pdb"), a.at(8));  // a standard name leading out of the archive
    a.list(8, "/nowhere/Kantoor_8.pdb");
    MakeSub(a.at(9) + ".obsolete", 109);  // retired sub databases come back, other files do not
    WriteFile(a.at(10) + ".obsolete", "notes");
    fs::create_symlink(other.file("x.pdb"), a.at(11) + ".obsolete");
    for (long n : {9, 10, 11}) a.list(n, a.at(n));
    a.doc(109, 9);  // the retired file of 9 holds the data of 9's document
    auto db = Open(a);
    EXPECT_FALSE(db->ManagePdbList());
    EXPECT_EQ(window.State().m_nDBSizeMB, qx::RealEnv().FileLength(a.main) / 1048576 + 1 + 5120) << "files elsewhere do not count";
    EXPECT_EQ(window.State().m_nItemCount, 5);
    EXPECT_EQ(a.links(), "10:0 11:0 12:5 109:9");
    EXPECT_TRUE(Logged("There were 2 document links found that referenced invalid sub 0"));
    EXPECT_TRUE(Logged("Distinct database reference found (5)"));
    std::map<long, std::string> rows;
    for (long n = 1; n <= 11; ++n) rows[n] = n == 7 ? other.file("Kantoor_7.pdb") : a.at(n);
    rows[8] = "/nowhere/Kantoor_8.pdb";
    EXPECT_EQ(a.databases(), rows);
    EXPECT_EQ(MarkerOf(a.at(9)), 109);
    EXPECT_EQ(Names(dir.path()) + Names(other.path()),
              "Kantoor.dat Kantoor.omd Kantoor_1.pdb Kantoor_10.pdb.obsolete Kantoor_11.pdb.obsolete Kantoor_2.pdb "
              "Kantoor_3.pdb Kantoor_4.pdb Kantoor_8.pdb Kantoor_9.pdb Kantoor_7.pdb x.pdb ");
    // Whole kilobytes, truncated, grouped the Dutch way whatever the system's locale.
    const auto kb = [](const std::string& grouped) { return " " + grouped + "KB"; };
    std::vector<std::string> shown;  // red rows end in "!"
    for (const ListRow& r : Rows()) shown.push_back(r.key + " " + r.text + " " + r.subItems.at(0) + (r.red ? "!" : ""));
    EXPECT_EQ(shown, (std::vector<std::string>{"PDB1 " + a.at(1) + kb("0"), "PDB2 " + a.at(2) + kb("1.023"),
                                               "PDB3 " + a.at(3) + kb("1.024"), "PDB4 " + a.at(4) + kb("5.242.880"),
                                               "PDB7 " + rows[7] + " " + GetResString(81, kNotFound) + "!",
                                               "PDB9 " + a.at(9) + kb(qx::FormatCount(qx::RealEnv().FileLength(a.at(9)) / 1024))}));
    std::vector<std::string> boxes, expected;
    const auto box = [](const std::string& text) { return text + "|" + GetResString(86, kNotFound) + "|!"; };
    for (const auto& b : window.boxes)
        boxes.push_back(b.text + "|" + b.title + (b.icon == MsgIcon::Exclamation ? "|!" : ""));
    for (long n : {5, 6, 8, 10, 11})
        expected.push_back(box(FormatMsg(GetResString(80, kNotFound), {"Kantoor", rows[n], a.at(n)})));
    EXPECT_EQ(boxes, expected);

    fs::rename(a.main, dir.file("moved.dat"));
    window.boxes.clear();
    EXPECT_FALSE(db->ManagePdbList());
    EXPECT_EQ(window.State().m_nDBSizeMB, 0);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text + "|" + window.boxes[0].title + "|!", box(GetResString(95, kNotFound)));
}

// A stored path is shown as it is stored: a "%s", "%n", "%1" or "%%" in it
// is part of the name, never a place where the next value goes.
TEST_F(PdbList, AStoredPathHoldingPlaceholdersIsShownAsItIs) {
    Archive a(dir.path());
    const std::map<long, std::string> stored = {
        {2, "/nowhere/weg %s.pdb"},     {3, "/nowhere/regel %n.pdb"}, {4, "/nowhere/nummer %1.pdb"},
        {5, "/nowhere/procent %%.pdb"}, {6, "/nowhere/%S%i%s.pdb"},
    };
    for (const auto& [n, path] : stored) a.list(n, path);
    auto db = Open(a);
    EXPECT_FALSE(db->ManagePdbList());
    std::map<long, std::string> shown;
    for (const auto& b : window.boxes)
        for (const auto& [n, path] : stored)
            if (b.text.find("'" + path + "'") != std::string::npos) shown[n] = b.text;
    for (const auto& [n, path] : stored) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(shown.count(n)) << "no box names the stored path as it is";
        EXPECT_NE(shown[n].find("'" + a.at(n) + "'"), std::string::npos) << shown[n];  // the next value, in its place
    }
}

TEST_F(PdbList, UnlinkWorkedExampleComesOutAsWrittenAndAnEngineFailureIsUndone) {
    Archive a(dir.path());
    for (long n : {1, 3, 5, 7}) a.standardSub(n);
    for (auto [id, n] : {std::pair{10, 3}, {11, 7}, {12, 3}, {13, 0}}) a.doc(id, n);
    a.exec("CREATE TRIGGER refuse BEFORE UPDATE OF DATABASEID ON FOLDERS BEGIN SELECT RAISE(ABORT, 'refused'); END");
    const auto rows = a.databases();
    Open(a)->UnlinkUnused(true);
    EXPECT_EQ(a.databases(), rows);
    EXPECT_EQ(a.links(), "10:3 11:7 12:3 13:0");
    EXPECT_EQ(Names(dir.path()), "Kantoor.dat Kantoor.omd Kantoor_1.pdb Kantoor_3.pdb Kantoor_5.pdb Kantoor_7.pdb ");
    for (long n : {1, 3, 5, 7}) EXPECT_EQ(MarkerOf(a.at(n)), 100 + n);
    EXPECT_EQ(LastLogLine(), "The sub databases and their files were left as they were");
    const auto refused = [](const std::string& l) { return l.starts_with("Error [0x") && l.ends_with("refused"); };
    EXPECT_TRUE(std::ranges::any_of(LogLines(), refused));

    a.exec("DROP TRIGGER refuse");
    fs::remove(Settings::Get().LogFileName);
    qx::RealEnv().SetReadOnly(a.at(3), true);  // the attribute is cleared and the run goes on
    auto db = Open(a);
    EXPECT_FALSE(db->UnlinkUnused(true));
    EXPECT_EQ(a.databases(), (std::map<long, std::string>{{1, a.at(1)}, {2, a.at(2)}}));
    EXPECT_EQ(a.links(), "10:1 11:2 12:1 13:0");
    EXPECT_EQ(Names(dir.path()), "Kantoor.dat Kantoor.omd Kantoor_1.pdb Kantoor_1.pdb.obsolete Kantoor_2.pdb "
                                 "Kantoor_5.pdb.obsolete ");
    EXPECT_EQ(std::vector({MarkerOf(a.at(1)), MarkerOf(a.at(2)), MarkerOf(a.at(1) + ".obsolete"),
                           MarkerOf(a.at(5) + ".obsolete")}),
              (std::vector<long>{103, 107, 101, 105}));
    EXPECT_FALSE(qx::RealEnv().IsReadOnly(a.at(1)));
    for (const std::string& line : std::vector<std::string>{
             "Distinct database reference found ( 3 )", "Distinct database reference found ( 7 )",
             "Deleting all references", "7 - Deleting reference ", "1 - Deleting reference ", "Updating references",
             "\t" + a.at(3) + ".obsolete( 3 ) -> " + a.at(1) + "( 1 )",
             "\t" + a.at(7) + ".obsolete( 7 ) -> " + a.at(2) + "( 2 )"})
        EXPECT_TRUE(Logged(line)) << line;
    ASSERT_EQ(Rows().size(), 2u);  // bUpdate refreshed the list with the new numbers
    EXPECT_EQ(Rows()[0].text + " " + Rows()[1].text, a.at(1) + " " + a.at(2));
    EXPECT_TRUE(window.boxes.empty());
}

// Rows 2 to 10 name files that may not be renamed. Referenced by a document,
// each stops the run before any change; unreferenced, they stay where they
// are and only lose their rows.
TEST_F(PdbList, UnlinkNeverTouchesFilesThatAreNotTheArchivesOwn) {
    Archive a(dir.path());
    for (long n : {1, 10}) a.standardSub(n), a.doc(20 + n, 1);
    MakeSub(other.file("Kantoor_3.pdb"), 103);
    fs::create_symlink(other.file("Kantoor_3.pdb"), a.at(5));
    WriteFile(a.at(8), "plain text");
    MakeSub(a.at(9), 109, kOldPwd);
    const std::map<long, std::string> odd = {  // 2: missing, 5: link to outside, 8: text file, 9: wrong password
        {2, a.at(2)}, {3, other.file("Kantoor_3.pdb")},
        {4, dir.path() + "/../" + fs::path(other.path()).filename().string() + "/Kantoor_3.pdb"},
        {5, a.at(5)}, {6, a.main}, {7, OmdName(a.main)}, {8, a.at(8)}, {9, a.at(9)}};
    for (const auto& [n, path] : odd) a.list(n, path);
    Immutable lock(a.at(10));  // stays read-only even for root
    const auto rows = a.databases();
    const std::string names = Names(dir.path()) + "| " + Names(other.path());
    const std::map<long, std::string> exact = {
        {2, "Sub database '" + a.at(2) + "' was not found!"},
        {10, "The file '" + a.at(10) + "' is probabely located on a read-only medium... Aborting!"},
        {12, "Sub database 12 is referenced by documents but not listed... Aborting!"}};
    for (long n : {2, 3, 4, 5, 6, 7, 8, 9, 10, 12 /* no row */}) {
        if (n == 10 && !lock.ok()) continue;
        for (bool quiet : {false, true}) {
            a.exec("UPDATE FOLDERS SET DATABASEID = " + std::to_string(n) + " WHERE ID = 30");
            auto db = Open(a);
            db->m_bShowErrors = !quiet;
            EXPECT_FALSE(db->UnlinkUnused(false)) << n;
            EXPECT_EQ(a.databases(), rows) << n;
            EXPECT_EQ(a.links(), "21:1 30:" + std::to_string(n));
            EXPECT_EQ(Names(dir.path()) + "| " + Names(other.path()), names) << n;
            const std::string shown = odd.contains(n) ? odd.at(n) : a.at(n), line = LastLogLine();
            EXPECT_TRUE(exact.contains(n) ? line == exact.at(n) : line.ends_with("Aborting!")) << n << ": " << line;
            ASSERT_EQ(window.boxes.size(), quiet ? 0u : 1u) << n;
            if (quiet) continue;
            // A file that is there but outside the folder is named as such, not "not found".
            const long text = n == 10 ? 74 : n == 3 || n == 4 || n == 5 ? 266 : 73;
            EXPECT_EQ(window.boxes[0].text, FormatMsg(GetResString(text, kNotFound), {shown})) << n;
            EXPECT_EQ(window.boxes[0].icon, MsgIcon::Exclamation);
        }
    }

    a.exec("UPDATE FOLDERS SET DATABASEID = 1");
    Open(a)->UnlinkUnused(false);
    EXPECT_EQ(a.databases(), (std::map<long, std::string>{{1, a.at(1)}}));
    for (const auto& [n, path] : odd)
        EXPECT_TRUE(n == 2 || Logged("Sub database '" + path +
                                     "' is not a sub database of this archive and stays where it is"))
            << n;
    if (lock.ok()) {  // every file as it was
        EXPECT_EQ(Names(dir.path()) + "| " + Names(other.path()), names);
        EXPECT_TRUE(Logged("Sub database '" + a.at(10) + "' is read-only and stays where it is"));
    }
}

// A file of the archive standing on a new standard name goes to ".deleted"
// (an older ".deleted" is never overwritten). Two numbers stored with one
// file both lead to it afterwards, and the file is not set aside as unused.
TEST_F(PdbList, UnlinkMovesLeftoversOffStandardNamesAndKeepsSharedFiles) {
    Archive a(dir.path());
    for (long n : {11, 12, 13}) a.standardSub(n), a.doc(n, n);
    a.list(14, dir.path() + "/./" + fs::path(a.at(13)).filename().string()), a.doc(14, 14);  // 13's file, written otherwise
    for (long n : {1, 2}) WriteFile(a.at(n), "leftover");
    WriteFile(a.at(2) + ".deleted", "older leftover");
    auto db = Open(a);
    db->UnlinkUnused();
    EXPECT_EQ(a.links(), "11:1 12:2 13:3 14:4");
    EXPECT_EQ(a.databases(),
              (std::map<long, std::string>{{1, a.at(1)}, {2, a.at(2)}, {3, a.at(3)}, {4, a.at(3)}}));
    EXPECT_EQ(std::vector({MarkerOf(a.at(1)), MarkerOf(a.at(2)), MarkerOf(a.at(3))}),
              (std::vector<long>{111, 112, 113}));
    EXPECT_EQ(Text(a.at(1) + ".deleted") + "|" + Text(a.at(2) + "_001.deleted") + "|" + Text(a.at(2) + ".deleted"),
              "leftover|leftover|older leftover");
    for (long id : {13L, 14L}) EXPECT_EQ(db->OpenPicbase(id), 0) << id;
    EXPECT_FALSE(fs::exists(IntentName(a.main)));
}

// Something that is not a regular file on a standard name is never taken
// for a sub database and never makes a live file move: the renumbering
// stops with nothing changed, and stays stopped on every later open.
TEST_F(PdbList, UnlinkStopsUnchangedWhenAStandardNameIsNoRegularFile) {
    using Make = void (*)(const std::string& standard, const std::string& outside);
    const std::pair<const char*, Make> cases[] = {
        {"folder", [](const std::string& p, const std::string&) { fs::create_directory(p); }},
        {"link out of the archive", [](const std::string& p, const std::string& o) { fs::create_symlink(o, p); }},
        {"dangling link", [](const std::string& p, const std::string&) { fs::create_symlink("/nowhere/x.pdb", p); }},
    };
    for (const auto& [name, make] : cases) {
        TempDir here, elsewhere;
        Settings::Get().LogFileName = here.file("Kantoor.log");
        Archive a(here.path());
        for (long n : {2, 3}) a.standardSub(n), a.doc(n, n);
        WriteFile(elsewhere.file("keep.txt"), "keep");
        make(a.at(1), elsewhere.file("keep.txt"));
        const auto rows = a.databases();
        const std::string names = Names(here.path());
        for (int open = 0; open < 2; ++open) {
            Open(a)->UnlinkUnused();
            EXPECT_EQ(a.links(), "2:2 3:3") << name;
            EXPECT_EQ(a.databases(), rows) << name;
            EXPECT_EQ(Names(here.path()), names) << name << ", open " << open;
            ASSERT_EQ(window.boxes.size(), 1u) << name;
            EXPECT_EQ(window.boxes[0].text, FormatMsg(GetResString(206, kNotFound), {a.at(1)})) << name;
        }
        EXPECT_EQ(Text(elsewhere.file("keep.txt")), "keep");
    }
}
