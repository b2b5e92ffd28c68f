// The sub-database table and list: ManagePdbList and UnlinkUnused, and the
// checks that keep both away from files that are not the archive's own.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "support/FileOperations.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

namespace qx {
struct PdbListTestAccess {
    static bool IsArchiveFile(const CDatabase& db, const std::string& path) { return db.IsArchiveFile(path); }
    static bool IsArchiveSubDatabase(const CDatabase& db, const std::string& path, bool* readOnly = nullptr) {
        return db.IsArchiveSubDatabase(path, readOnly);
    }
};
}  // namespace qx

using namespace qx;
using qx::test::ScriptedWindow;
using qx::test::TempDir;
using qx::test::WriteFile;
namespace fs = std::filesystem;

namespace {

const std::string kPwd = "\u00a9Pendrawix8";
const std::string kNotFound = "Resources not found";

sql::Database OpenFile(const std::string& path, const std::string& pwd = kPwd) {
    sql::Error err;
    sql::Database db = sql::Database::open(path, engine::PasswordBytes(pwd), sql::OpenMode::ReadWrite, err);
    EXPECT_FALSE(err) << path << ": " << err.message;
    return db;
}

// A sub database whose PICTURES table holds one row, `marker`, so that a
// test can tell afterwards which file ended up under which name.
void MakeSub(const std::string& path, long marker, const std::string& pwd = kPwd) {
    sql::Error err;
    ASSERT_TRUE(CreateSubDatabaseFile(path, pwd, err)) << err.message;
    sql::Database db = OpenFile(path, pwd);
    db.exec("INSERT INTO PICTURES (ID, PICTURE) VALUES (" + std::to_string(marker) + ", x'00')");
}

// The marker of a sub database, -1 when it is not one.
long MarkerOf(const std::string& path) {
    sql::Error err;
    sql::Database db = sql::Database::open(path, engine::PasswordBytes(kPwd), sql::OpenMode::ReadWrite, err);
    if (err) return -1;
    sql::Statement st(db, "SELECT ID FROM PICTURES");
    return st.step() == sql::Step::Row ? static_cast<long>(st.getInt64(0)) : -1;
}

// A generation-8 main database with its OCR database and top-level folder 1.
struct Archive {
    std::string dir, main;
    explicit Archive(const std::string& folder) : dir(folder), main(folder + "/Kantoor.dat") {
        sql::Error err;
        EXPECT_TRUE(CreateMainDatabase(main, 8, err)) << err.message;
        EXPECT_TRUE(CreateOmdDatabase(OmdName(main), err)) << err.message;
        exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (1, 0, -1, 'Map')");
    }
    std::string sub(long n) const { return SubDatabaseName(main, n); }
    void exec(const std::string& text) const {
        sql::Database db = OpenFile(main);
        sql::Error err;
        EXPECT_TRUE(db.exec(text, &err)) << text << ": " << err.message;
    }
    void list(long id, const std::string& path) const {
        sql::Database db = OpenFile(main);
        sql::Statement st(db, "INSERT INTO DATABASES (ID, DATABASE) VALUES (?, ?)");
        st.bind(1, std::int64_t(id));
        st.bind(2, std::string_view(path));
        EXPECT_TRUE(st.run()) << st.error().message;
    }
    // Sub database n at its standard path, listed and holding marker 100 + n.
    void standardSub(long n) const {
        MakeSub(sub(n), 100 + n);
        list(n, sub(n));
    }
    void doc(long id, long databaseId) const {
        exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (" + std::to_string(id) +
             ", 1, 0, 'doc" + std::to_string(id) + "', " + std::to_string(databaseId) + ")");
    }
    std::map<long, std::string> databases() const {
        sql::Database db = OpenFile(main);
        sql::Statement st(db, "SELECT ID, DATABASE FROM DATABASES");
        std::map<long, std::string> out;
        while (st.step() == sql::Step::Row)
            out[static_cast<long>(st.getInt64(0))] = st.isNull(1) ? "<null>" : st.getText(1);
        return out;
    }
    // FOLDERS.ID -> DATABASEID of every row.
    std::map<long, long> links() const {
        sql::Database db = OpenFile(main);
        sql::Statement st(db, "SELECT ID, DATABASEID FROM FOLDERS");
        std::map<long, long> out;
        while (st.step() == sql::Step::Row) out[static_cast<long>(st.getInt64(0))] = static_cast<long>(st.getInt64(1));
        return out;
    }
};

// The names in a folder, the log left out (it grows with every run).
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() != ".log") out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> LogLines() {
    std::ifstream in(Settings::Get().LogFileName, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l.substr(0, l.size() - (l.ends_with('\r') ? 1 : 0)));
    return lines;
}

bool Logged(const std::string& line) {
    const auto lines = LogLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string LastLogLine() {
    const auto lines = LogLines();
    return lines.empty() ? std::string() : lines.back();
}

std::string Kb(const std::string& grouped) {
    std::string out;
    for (char c : grouped) out += c == ',' ? QLocale::system().groupSeparator().toStdString() : std::string(1, c);
    return out + "KB";
}

class PdbListBase : public ::testing::Test {
protected:
    void SetUp() override { UseLogOf(dir.path()); }
    void TearDown() override { Settings::Reset(); }
    void UseLogOf(const std::string& folder) {
        Settings::Reset();
        Settings::Get().DatabasePassword = kPwd;
        Settings::Get().LogFileName = folder + "/Kantoor.log";
    }
    std::unique_ptr<CDatabase> Open(const Archive& a) {
        auto db = std::make_unique<CDatabase>(window);
        EXPECT_TRUE(db->OpenDatabase(CDatabase::ConnectString(a.main, kPwd)));
        window.boxes.clear();
        window.calls.clear();
        return db;
    }
    const std::vector<ListRow>& Rows() { return window.lists[ListId::Picbases]; }

    TempDir dir;
    ScriptedWindow window;
};

class PdbList : public PdbListBase {};
class UnlinkUnused : public PdbListBase {};

}  // namespace

// ---------------------------------------------------------------- helpers

TEST_F(PdbList, OnlyFilesOfTheArchiveFolderCountAsItsOwn) {
    Archive a(dir.path());
    TempDir other;
    MakeSub(a.sub(1), 101);
    MakeSub(other.file("Kantoor_2.pdb"), 102);
    MakeSub(dir.file("Kantoor_3.pdb"), 103, "\u00a9Pendrawix6");
    WriteFile(dir.file("Kantoor_4.pdb"), "not a database");
    fs::create_directory(dir.file("Kantoor_5.pdb"));
    fs::create_symlink(other.file("Kantoor_2.pdb"), dir.file("Kantoor_6.pdb"));
    fs::create_symlink(a.sub(1), dir.file("Kantoor_7.pdb"));
    fs::create_directory(other.file("deep"));
    fs::create_symlink(other.file("deep"), dir.file("hop"));
    fs::create_symlink(a.main, dir.file("Kantoor_8.pdb"));
    fs::create_directory(dir.file("inner"));
    fs::create_symlink(a.sub(1), dir.file("inner/Kantoor_1.pdb"));
    WriteFile(LogName(a.main), "log\r\n");
    const std::string up = dir.path() + "/../" + fs::path(other.path()).filename().string() + "/Kantoor_2.pdb";
    auto db = Open(a);

    struct Case {
        std::string name, path;
        bool file, sub;
    } cases[] = {
        {"sub database", a.sub(1), true, true},
        {"same file through '.'", dir.path() + "/./Kantoor_1.pdb", true, true},
        {"outside folder", other.file("Kantoor_2.pdb"), false, false},
        {"'..' out of the folder", up, false, false},
        {"link in the folder, then '..'", dir.path() + "/hop/../Kantoor_2.pdb", false, false},
        {"link to outside", dir.file("Kantoor_6.pdb"), false, false},
        {"link to a sub database inside", dir.file("Kantoor_7.pdb"), true, true},
        {"link in a subfolder to a sub database inside", dir.file("inner/Kantoor_1.pdb"), false, false},
        {"link to the main database", dir.file("Kantoor_8.pdb"), false, false},
        {"main database", a.main, false, false},
        {"OCR database", OmdName(a.main), false, false},
        {"log", LogName(a.main), false, false},
        {"wrong password", dir.file("Kantoor_3.pdb"), true, false},
        {"text file named like a sub database", dir.file("Kantoor_4.pdb"), true, false},
        {"folder", dir.file("Kantoor_5.pdb"), false, false},
        {"missing", dir.file("Kantoor_9.pdb"), false, false},
        {"empty", "", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PdbListTestAccess::IsArchiveFile(*db, c.path), c.file) << c.name;
        bool readOnly = true;
        EXPECT_EQ(PdbListTestAccess::IsArchiveSubDatabase(*db, c.path, &readOnly), c.sub) << c.name;
        if (c.sub) {
            EXPECT_FALSE(readOnly) << c.name;
        }
    }
}

// ---------------------------------------------------------------- ManagePdbList

TEST_F(PdbList, SizesAreTruncatedNotRoundedAndGroupedByTheLocale) {
    Archive a(dir.path());
    struct Case {
        long id;
        std::uintmax_t bytes;
        std::string kb;
        long mb;
    } cases[] = {
        {1, 500, "0", 0},
        {2, 1048575, "1,023", 0},
        {3, 1048576, "1,024", 1},
        {4, 5ull * 1024 * 1024 * 1024 + 1023, "5,242,880", 5120},  // beyond 32 bits
    };
    long expectedMb = static_cast<long>(FileLength(a.main) / 1048576);
    for (const Case& c : cases) {
        { std::ofstream(a.sub(c.id), std::ios::binary); }
        fs::resize_file(a.sub(c.id), c.bytes);
        a.list(c.id, "/old/place/Kantoor_" + std::to_string(c.id) + ".pdb");
        expectedMb += c.mb;
    }
    auto db = Open(a);
    window.State().m_nDBSizeMB = 77;
    ASSERT_TRUE(db->ManagePdbList());
    EXPECT_EQ(window.State().m_nDBSizeMB, expectedMb);
    EXPECT_EQ(window.State().m_nItemCount, 1);
    ASSERT_EQ(Rows().size(), std::size(cases));
    for (const Case& c : cases) {
        const ListRow& row = Rows()[static_cast<std::size_t>(c.id - 1)];
        EXPECT_EQ(row.key, "PDB" + std::to_string(c.id));
        EXPECT_EQ(row.text, a.sub(c.id));
        ASSERT_EQ(row.subItems.size(), 1u);
        EXPECT_EQ(row.subItems[0], Kb(c.kb)) << c.bytes;
        EXPECT_FALSE(row.red);
        EXPECT_EQ(a.databases()[c.id], a.sub(c.id)) << "the row is pointed at the file found";
    }
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(PdbList, DocumentsWithoutStoredDataAreCountedButKept) {
    Archive a(dir.path());
    a.standardSub(1);
    a.doc(10, 0);
    a.doc(11, 0);
    a.doc(12, 1);
    a.list(0, "/somewhere/Kantoor_0.pdb");
    const auto before = a.links();
    auto db = Open(a);
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(db->ManagePdbList()) << run;
        EXPECT_TRUE(Logged("There were 2 document links found that referenced invalid sub 0")) << run;
        EXPECT_EQ(a.links(), before) << "documents without stored data keep their records";
        EXPECT_EQ(window.State().m_nItemCount, 4);
        EXPECT_EQ(a.databases(), (std::map<long, std::string>{{1, a.sub(1)}}));
    }
    EXPECT_TRUE(Logged("Distinct database reference found (1)"));
    EXPECT_FALSE(Logged("Distinct database reference found (0)"));
}

TEST_F(PdbList, ReferencedNumbersGetRowsAndWhatIsMissingIsReported) {
    Archive a(dir.path());
    TempDir elsewhere;
    a.doc(10, 4);                                 // no row, no file
    a.exec("INSERT INTO DATABASES (ID) VALUES (6)");  // no path, no file
    WriteFile(elsewhere.file("Kantoor_7.pdb"), std::string(2 * 1048576, 'x'));
    a.list(7, elsewhere.file("Kantoor_7.pdb"));   // found only under its stored path
    a.list(8, "/nowhere/Kantoor_8.pdb");          // found nowhere
    auto db = Open(a);
    EXPECT_FALSE(db->ManagePdbList());

    EXPECT_TRUE(Logged("Distinct database reference found (4)"));
    EXPECT_EQ(a.databases(), (std::map<long, std::string>{{4, a.sub(4)},
                                                          {6, a.sub(6)},
                                                          {7, elsewhere.file("Kantoor_7.pdb")},
                                                          {8, "/nowhere/Kantoor_8.pdb"}}));
    const std::string title = GetResString(86, kNotFound);
    const std::string text = GetResString(80, kNotFound);
    ASSERT_EQ(window.boxes.size(), 3u);
    const std::vector<std::vector<Variant>> args = {
        {"Kantoor", a.sub(4), a.sub(4)},
        {"Kantoor", a.sub(6), a.sub(6)},
        {"Kantoor", "/nowhere/Kantoor_8.pdb", a.sub(8)},
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        EXPECT_EQ(window.boxes[i].text, FormatMsg(text, args[i])) << i;
        EXPECT_EQ(window.boxes[i].title, title);
        EXPECT_EQ(window.boxes[i].icon, MsgIcon::Exclamation);
    }
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0].key, "PDB7");
    EXPECT_EQ(Rows()[0].text, elsewhere.file("Kantoor_7.pdb"));
    EXPECT_EQ(Rows()[0].subItems, std::vector<std::string>{GetResString(81, kNotFound)});
    EXPECT_TRUE(Rows()[0].red);
    EXPECT_EQ(window.State().m_nDBSizeMB, FileLength(a.main) / 1048576) << "a file elsewhere is not counted";
}

TEST_F(PdbList, RetiredFilesComeBackOnlyWhenTheyAreSubDatabasesOfTheArchive) {
    struct Case {
        std::string name;
        std::function<void(const Archive&, const TempDir&)> make;  // puts something at Kantoor_2.pdb.obsolete
        bool restored;
    } cases[] = {
        {"sub database", [](const Archive& a, const TempDir&) { MakeSub(a.sub(2) + ".obsolete", 102); }, true},
        {"text file", [](const Archive& a, const TempDir&) { WriteFile(a.sub(2) + ".obsolete", "notes"); }, false},
        {"wrong password",
         [](const Archive& a, const TempDir&) { MakeSub(a.sub(2) + ".obsolete", 102, "\u00a9Pendrawix6"); }, false},
        {"link to a sub database elsewhere",
         [](const Archive& a, const TempDir& other) {
             MakeSub(other.file("x.pdb"), 102);
             fs::create_symlink(other.file("x.pdb"), a.sub(2) + ".obsolete");
         },
         false},
    };
    for (const Case& c : cases) {
        TempDir folder, other;
        UseLogOf(folder.path());
        Archive a(folder.path());
        a.list(2, a.sub(2));
        c.make(a, other);
        const auto outside = Names(other.path());
        window.boxes.clear();
        auto db = Open(a);
        EXPECT_EQ(db->ManagePdbList(), c.restored) << c.name;
        EXPECT_EQ(FileExists(a.sub(2)), c.restored) << c.name;
        EXPECT_NE(fs::exists(fs::symlink_status(a.sub(2) + ".obsolete")), c.restored) << c.name;
        EXPECT_EQ(Names(other.path()), outside) << c.name;
        EXPECT_EQ(Rows().size(), c.restored ? 1u : 0u) << c.name;
        EXPECT_EQ(window.boxes.size(), c.restored ? 0u : 1u) << c.name;
        if (c.restored) {
            EXPECT_EQ(MarkerOf(a.sub(2)), 102);
        }
    }
}

TEST_F(PdbList, AStandardNameLeadingOutOfTheArchiveIsNotTakenForTheSubDatabase) {
    Archive a(dir.path());
    TempDir other;
    MakeSub(other.file("x.pdb"), 999);
    fs::create_symlink(other.file("x.pdb"), a.sub(1));
    a.list(1, "/nowhere/Kantoor_1.pdb");
    auto db = Open(a);
    EXPECT_FALSE(db->ManagePdbList());
    EXPECT_EQ(a.databases()[1], "/nowhere/Kantoor_1.pdb");
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(window.boxes.size(), 1u);
}

TEST_F(PdbList, EmptyTableMissingMainAndNoConnection) {
    Archive a(dir.path());
    a.exec("INSERT INTO memos (id, memotext) VALUES (1, zeroblob(1500000))");
    ASSERT_GE(FileLength(a.main), 1048576);
    {
        auto db = Open(a);
        window.State().m_nDBSizeMB = 77;
        EXPECT_FALSE(db->ManagePdbList());
        EXPECT_TRUE(Rows().empty());
        EXPECT_TRUE(window.boxes.empty());
        EXPECT_EQ(window.State().m_nDBSizeMB, FileLength(a.main) / 1048576);
    }
    {
        CDatabase db(window);
        window.calls.clear();
        EXPECT_FALSE(db.ManagePdbList());
        EXPECT_TRUE(window.calls.empty()) << "nothing open: the list is left alone";
    }
    {
        auto db = Open(a);
        fs::rename(a.main, dir.file("moved.dat"));
        window.State().m_nDBSizeMB = 77;
        EXPECT_FALSE(db->ManagePdbList());
        EXPECT_EQ(window.State().m_nDBSizeMB, 0);
        ASSERT_EQ(window.boxes.size(), 1u);
        EXPECT_EQ(window.boxes[0].text, GetResString(95, kNotFound));
        EXPECT_EQ(window.boxes[0].title, GetResString(86, kNotFound));
    }
}

// ---------------------------------------------------------------- UnlinkUnused

TEST_F(UnlinkUnused, WorkedExampleComesOutAsWritten) {
    Archive a(dir.path());
    for (long n : {1, 3, 5, 7}) a.standardSub(n);
    a.doc(10, 3);
    a.doc(11, 7);
    a.doc(12, 3);
    a.doc(13, 0);
    auto db = Open(a);
    EXPECT_FALSE(db->UnlinkUnused(true));

    EXPECT_EQ(a.databases(), (std::map<long, std::string>{{1, a.sub(1)}, {2, a.sub(2)}}));
    EXPECT_EQ(a.links(), (std::map<long, long>{{1, a.links()[1]}, {10, 1}, {11, 2}, {12, 1}, {13, 0}}));
    EXPECT_EQ(MarkerOf(a.sub(1)), 103);
    EXPECT_EQ(MarkerOf(a.sub(2)), 107);
    EXPECT_EQ(MarkerOf(a.sub(1) + ".obsolete"), 101);
    EXPECT_EQ(MarkerOf(a.sub(5) + ".obsolete"), 105);
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"Kantoor.dat", "Kantoor.omd", "Kantoor_1.pdb",
                                                           "Kantoor_1.pdb.obsolete", "Kantoor_2.pdb",
                                                           "Kantoor_5.pdb.obsolete"}));
    for (const std::string& line :
         {std::string("Distinct database reference found ( 3 )"), std::string("Distinct database reference found ( 7 )"),
          std::string("Deleting all references"), std::string("7 - Deleting reference "),
          std::string("1 - Deleting reference "), std::string("Updating references"),
          "\t" + a.sub(3) + ".obsolete( 3 ) -> " + a.sub(1) + "( 1 )",
          "\t" + a.sub(7) + ".obsolete( 7 ) -> " + a.sub(2) + "( 2 )"})
        EXPECT_TRUE(Logged(line)) << line;
    // bUpdate refreshed the list with the new numbers.
    ASSERT_EQ(Rows().size(), 2u);
    EXPECT_EQ(Rows()[0].text, a.sub(1));
    EXPECT_EQ(Rows()[1].text, a.sub(2));
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(UnlinkUnused, AnUnusableReferencedFileAbortsWithNothingChanged) {
    struct Case {
        std::string name;
        // Makes what DATABASES row 3 names; returns that stored path ("" = no row).
        std::function<std::string(const Archive&, const TempDir&)> make;
        bool showErrors = true;
        std::string logLine = "";  // exact, when the wording is fixed
    } cases[] = {
        {"missing", [](const Archive& a, const TempDir&) { return a.sub(3); }, true,
         "Sub database '%s' was not found!"},
        {"missing, quiet", [](const Archive& a, const TempDir&) { return a.sub(3); }, false,
         "Sub database '%s' was not found!"},
        {"no row",
         [](const Archive&, const TempDir&) { return std::string(); }},
        {"outside the folder",
         [](const Archive&, const TempDir& o) { MakeSub(o.file("Kantoor_3.pdb"), 103); return o.file("Kantoor_3.pdb"); }},
        {"'..' out of the folder",
         [](const Archive& a, const TempDir& o) {
             MakeSub(o.file("Kantoor_3.pdb"), 103);
             return a.dir + "/../" + fs::path(o.path()).filename().string() + "/Kantoor_3.pdb";
         }},
        {"link to outside",
         [](const Archive& a, const TempDir& o) {
             MakeSub(o.file("real.pdb"), 103);
             fs::create_symlink(o.file("real.pdb"), a.sub(3));
             return a.sub(3);
         }},
        {"the main database", [](const Archive& a, const TempDir&) { return a.main; }},
        {"text file with a sub database's name",
         [](const Archive& a, const TempDir&) { WriteFile(a.sub(3), "plain text"); return a.sub(3); }},
        {"wrong password",
         [](const Archive& a, const TempDir&) { MakeSub(a.sub(3), 103, "\u00a9Pendrawix6"); return a.sub(3); }},
        {"wrong password, quiet",
         [](const Archive& a, const TempDir&) { MakeSub(a.sub(3), 103, "\u00a9Pendrawix6"); return a.sub(3); }, false},
    };
    for (const Case& c : cases) {
        TempDir folder, other;
        UseLogOf(folder.path());
        Archive a(folder.path());
        a.standardSub(1);
        a.standardSub(5);  // unreferenced: would be set aside by a run that goes on
        a.doc(10, 1);
        a.doc(11, 3);
        const std::string stored = c.make(a, other);
        if (!stored.empty()) a.list(3, stored);
        const auto rows = a.databases();
        const auto links = a.links();
        const auto inside = Names(folder.path());
        const auto outside = Names(other.path());

        auto db = Open(a);
        db->m_bShowErrors = c.showErrors;
        EXPECT_FALSE(db->UnlinkUnused(false)) << c.name;

        EXPECT_EQ(a.databases(), rows) << c.name;
        EXPECT_EQ(a.links(), links) << c.name;
        EXPECT_EQ(Names(folder.path()), inside) << c.name;
        EXPECT_EQ(Names(other.path()), outside) << c.name;
        EXPECT_EQ(MarkerOf(a.sub(1)), 101) << c.name;
        const std::string shown = stored.empty() ? a.sub(3) : stored;
        if (!c.logLine.empty()) {
            EXPECT_EQ(LastLogLine(), FormatMsg(c.logLine, {shown})) << c.name;
        } else {
            EXPECT_TRUE(LastLogLine().ends_with("Aborting!")) << c.name << ": " << LastLogLine();
        }
        EXPECT_FALSE(Logged("Deleting all references")) << c.name;
        if (c.showErrors) {
            ASSERT_EQ(window.boxes.size(), 1u) << c.name;
            EXPECT_EQ(window.boxes[0].text, FormatMsg(GetResString(73, kNotFound), {shown})) << c.name;
            EXPECT_EQ(window.boxes[0].icon, MsgIcon::Exclamation);
        } else {
            EXPECT_TRUE(window.boxes.empty()) << c.name;
        }
        EXPECT_TRUE(window.lists[ListId::Picbases].empty()) << "no refresh asked for";
    }
}

TEST_F(UnlinkUnused, AReadOnlyAttributeIsClearedAndTheRunGoesOn) {
    Archive a(dir.path());
    a.standardSub(4);
    a.doc(10, 4);
    SetFileReadOnly(a.sub(4), true);
    auto db = Open(a);
    db->UnlinkUnused();
    EXPECT_EQ(MarkerOf(a.sub(1)), 104);
    EXPECT_FALSE(IsFileReadOnly(a.sub(1)));
    EXPECT_EQ(a.links()[10], 1);
}

TEST_F(UnlinkUnused, FilesThatStayReadOnlyAreNeverRenamed) {
    Archive a(dir.path());
    a.standardSub(2);
    a.standardSub(3);
    a.doc(10, 3);
    {
        // Referenced: the whole run stops before any change.
        qx::test::Immutable lock(a.sub(3));
        if (!lock.ok()) GTEST_SKIP() << "chattr +i is not available: no file stays read-only for root";
        const auto rows = a.databases();
        auto db = Open(a);
        db->UnlinkUnused();
        EXPECT_EQ(LastLogLine(), "The file '" + a.sub(3) + "' is probabely located on a read-only medium... Aborting!");
        ASSERT_EQ(window.boxes.size(), 1u);
        EXPECT_EQ(window.boxes[0].text, FormatMsg(GetResString(74, kNotFound), {a.sub(3)}));
        EXPECT_EQ(a.databases(), rows);
        EXPECT_EQ(a.links()[10], 3);
    }
    {
        // Unreferenced: it stays where it is and only loses its row.
        qx::test::Immutable lock(a.sub(2));
        ASSERT_TRUE(lock.ok());
        auto db = Open(a);
        db->UnlinkUnused();
        EXPECT_TRUE(Logged("Sub database '" + a.sub(2) + "' is read-only and stays where it is"));
        EXPECT_EQ(a.databases(), (std::map<long, std::string>{{1, a.sub(1)}}));
        EXPECT_EQ(MarkerOf(a.sub(1)), 103);
        EXPECT_EQ(MarkerOf(a.sub(2)), 102);
        EXPECT_TRUE(window.boxes.empty());
    }
}

TEST_F(UnlinkUnused, UnreferencedFilesOfOthersStayButLoseTheirRows) {
    struct Case {
        std::string name;
        std::function<std::string(const Archive&, const TempDir&)> make;  // path stored for row 5
    } cases[] = {
        {"outside the folder",
         [](const Archive&, const TempDir& o) { MakeSub(o.file("Kantoor_5.pdb"), 105); return o.file("Kantoor_5.pdb"); }},
        {"link to outside",
         [](const Archive& a, const TempDir& o) {
             MakeSub(o.file("real.pdb"), 105);
             fs::create_symlink(o.file("real.pdb"), a.sub(5));
             return a.sub(5);
         }},
        {"the main database", [](const Archive& a, const TempDir&) { return a.main; }},
        {"the OCR database", [](const Archive& a, const TempDir&) { return OmdName(a.main); }},
        {"text file with a sub database's name",
         [](const Archive& a, const TempDir&) { WriteFile(a.sub(5), "plain text"); return a.sub(5); }},
        {"wrong password",
         [](const Archive& a, const TempDir&) { MakeSub(a.sub(5), 105, "\u00a9Pendrawix6"); return a.sub(5); }},
    };
    for (const Case& c : cases) {
        TempDir folder, other;
        UseLogOf(folder.path());
        Archive a(folder.path());
        a.standardSub(1);
        a.doc(10, 1);
        const std::string stored = c.make(a, other);
        a.list(5, stored);
        const auto outside = Names(other.path());

        auto db = Open(a);
        db->UnlinkUnused();
        EXPECT_EQ(a.databases(), (std::map<long, std::string>{{1, a.sub(1)}})) << c.name;
        EXPECT_EQ(MarkerOf(a.sub(1)), 101) << c.name;
        EXPECT_TRUE(fs::exists(fs::symlink_status(stored))) << c.name;
        EXPECT_FALSE(fs::exists(fs::symlink_status(stored + ".obsolete"))) << c.name;
        EXPECT_EQ(Names(other.path()), outside) << c.name;
        EXPECT_TRUE(Logged("Sub database '" + stored + "' is not a sub database of this archive and stays where it is"))
            << c.name;
        EXPECT_TRUE(FileExists(a.main) && FileExists(OmdName(a.main))) << c.name;
    }
}

TEST_F(UnlinkUnused, WhatStandsOnAStandardNameIsMovedAsideOnlyWhenItIsTheArchives) {
    struct Case {
        std::string name;
        std::function<void(const Archive&, const TempDir&)> occupy;  // puts something at Kantoor_1.pdb
        std::string aside;  // where it must end up ("" = it stays)
    } cases[] = {
        {"text file", [](const Archive& a, const TempDir&) { WriteFile(a.sub(1), "leftover"); }, "Kantoor_1.pdb.deleted"},
        {"text file, first '.deleted' name taken",
         [](const Archive& a, const TempDir&) {
             WriteFile(a.sub(1), "leftover");
             WriteFile(a.sub(1) + ".deleted", "older leftover");
         },
         "Kantoor_1.pdb_001.deleted"},
        {"link to outside",
         [](const Archive& a, const TempDir& o) {
             WriteFile(o.file("precious.txt"), "keep me");
             fs::create_symlink(o.file("precious.txt"), a.sub(1));
         },
         ""},
        {"folder", [](const Archive& a, const TempDir&) { fs::create_directory(a.sub(1)); }, ""},
    };
    for (const Case& c : cases) {
        TempDir folder, other;
        UseLogOf(folder.path());
        Archive a(folder.path());
        a.standardSub(3);
        a.doc(10, 3);
        c.occupy(a, other);
        const auto outside = Names(other.path());

        auto db = Open(a);
        db->UnlinkUnused();
        EXPECT_EQ(a.links()[10], 1) << c.name;
        EXPECT_EQ(Names(other.path()), outside) << c.name;
        if (!c.aside.empty()) {
            EXPECT_EQ(MarkerOf(a.sub(1)), 103) << c.name;
            EXPECT_TRUE(FileExists(folder.file(c.aside))) << c.name;
            std::ifstream in(folder.file(c.aside));
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "leftover") << c.name;
            EXPECT_EQ(a.databases(), (std::map<long, std::string>{{1, a.sub(1)}})) << c.name;
        } else {
            // The documents stay linked: the row follows the file, which
            // keeps its ".obsolete" name.
            EXPECT_TRUE(fs::exists(fs::symlink_status(a.sub(1)))) << c.name;
            EXPECT_EQ(a.databases(), (std::map<long, std::string>{{1, a.sub(3) + ".obsolete"}})) << c.name;
            EXPECT_EQ(MarkerOf(a.sub(3) + ".obsolete"), 103) << c.name;
            long id = 10;
            EXPECT_EQ(db->OpenPicbase(id), 0) << c.name;
        }
    }
}

TEST_F(UnlinkUnused, WithoutReferencesEveryListedFileIsRetired) {
    Archive a(dir.path());
    a.standardSub(1);
    a.standardSub(2);
    a.doc(10, 0);
    auto db = Open(a);
    db->UnlinkUnused();
    EXPECT_TRUE(a.databases().empty());
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"Kantoor.dat", "Kantoor.omd", "Kantoor_1.pdb.obsolete",
                                                           "Kantoor_2.pdb.obsolete"}));
    EXPECT_EQ(a.links()[10], 0);
}

TEST_F(UnlinkUnused, TwoNumbersStoredWithOneFileBothLeadToIt) {
    Archive a(dir.path());
    MakeSub(a.sub(2), 102);
    a.list(2, a.sub(2));
    a.list(4, a.sub(2));
    a.doc(10, 2);
    a.doc(11, 4);
    auto db = Open(a);
    db->UnlinkUnused();
    EXPECT_EQ(a.databases(), (std::map<long, std::string>{{1, a.sub(1)}, {2, a.sub(1)}}));
    EXPECT_EQ(MarkerOf(a.sub(1)), 102);
    EXPECT_EQ(a.links()[10], 1);
    EXPECT_EQ(a.links()[11], 2);
}

TEST_F(UnlinkUnused, AnEngineFailureHalfwayLeavesTableAndFilesAsTheyWere) {
    Archive a(dir.path());
    for (long n : {1, 3, 5, 7}) a.standardSub(n);
    a.doc(10, 3);
    a.doc(11, 7);
    a.exec("CREATE TRIGGER refuse BEFORE UPDATE OF DATABASEID ON FOLDERS BEGIN SELECT RAISE(ABORT, 'refused'); END");
    const auto rows = a.databases();
    const auto links = a.links();
    const auto names = Names(dir.path());
    auto db = Open(a);
    db->UnlinkUnused(true);
    EXPECT_EQ(a.databases(), rows);
    EXPECT_EQ(a.links(), links);
    EXPECT_EQ(Names(dir.path()), names);
    for (long n : {1, 3, 5, 7}) EXPECT_EQ(MarkerOf(a.sub(n)), 100 + n);
    EXPECT_EQ(LastLogLine(), "The sub databases and their files were left as they were");
    bool errorLogged = false;
    for (const std::string& l : LogLines()) errorLogged |= l.rfind("Error [0x", 0) == 0 && l.find("refused") != std::string::npos;
    EXPECT_TRUE(errorLogged);
}

TEST_F(UnlinkUnused, NothingOpenDoesNothing) {
    CDatabase db(window);
    EXPECT_FALSE(db.UnlinkUnused(true));
    EXPECT_TRUE(window.calls.empty());
}
