// The database engine: connect strings, keyed files, cursors, binary values.
#include "support/engine/ConnectString.h"
#include "support/engine/Connection.h"
#include "support/engine/Dao.h"
#include "support/engine/Recordset.h"
#include "tests/core/TestUtil.h"
#include "tests/core/WriteWatch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <numeric>
#include <set>

using namespace qx;
using namespace qx::engine;
using qx::test::TempDir;

namespace {

const std::string kPwd = "\u00a9Pendrawix8";

std::string Cs(const std::string& path, const std::string& pwd) {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";Jet OLEDB:Database Password=" + pwd;
}

// A small keyed file with a numbered table and a table of stored values.
void MakeArchiveFile(const std::string& path, const std::string& pwd) {
    sql::Error err;
    sql::Database db = CreateDatabaseFile(qx::RealEnv(), path, pwd, err);
    ASSERT_TRUE(db.isOpen()) << err.message;
    TableDef folders;
    folders.name = "FOLDERS";
    folders.autoNumber("ID").field("PARENT", FieldType::Long).field("NAME", FieldType::Text, 80)
        .field("ISFOLDER", FieldType::Boolean).index("PrimaryKey", {"ID"}, true).index("parentID", {"PARENT"});
    TableDef pictures;
    pictures.name = "PICTURES";
    pictures.autoNumber("ID").field("path", FieldType::Memo).field("PICTURE", FieldType::LongBinary)
        .index("PrimaryKey", {"ID"}, true);
    for (const TableDef* t : {&folders, &pictures})
        for (const std::string& s : CreateTableSql(*t)) ASSERT_TRUE(db.exec(s, &err)) << err.message;
    ASSERT_TRUE(db.exec("INSERT INTO FOLDERS (PARENT, NAME, ISFOLDER) VALUES (0, 'A', -1), (1, 'doc1', 0),"
                        " (1, 'doc2', 0), (NULL, NULL, 0)", &err)) << err.message;
    ASSERT_TRUE(db.exec("INSERT INTO PICTURES (ID, path, PICTURE) VALUES (2, 'p', x'0102030405'), (3, NULL, x''),"
                        " (4, NULL, NULL)", &err)) << err.message;
}

// The file above, open.
class RecordsetTest : public ::testing::Test {
protected:
    void SetUp() override {
        MakeArchiveFile(path, kPwd);
        ASSERT_TRUE(cn.open(Cs(path, kPwd)));
    }
    TempDir dir;
    const std::string path = dir.file("a.dat");
    Connection cn{qx::RealEnv()};
};

}  // namespace

TEST(ConnectString, ParsesTheFormsTheArchiveCodeBuilds) {
    struct Case { std::string text, source, password; } cases[] = {
        {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/a/b.omd;", "/a/b.omd", ""},
        {Cs("/x;y=z/b;c.dat", "p;w=d"), "/x;y=z/b;c.dat", "p;w=d"},
        {Cs("/dir/Data Source=odd.dat", "pw"), "/dir/Data Source=odd.dat", "pw"},
        {"Data Source=\"/q;uoted\"\"x.dat\";PWD=a", "/q;uoted\"x.dat", "a"},
        {";PWD=" + kPwd, "", kPwd},
        {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/a.dat;Jet OLEDB:Database Password=", "/a.dat", ""},
    };
    for (const Case& c : cases) {
        const ConnectString cs = ConnectString::Parse(c.text);
        EXPECT_EQ(cs.dataSource(), c.source) << c.text;
        EXPECT_EQ(cs.password(), c.password) << c.text;
    }
}

TEST(ConnectString, EveryPathAndPasswordReadsBackExactly) {
    struct Case { std::string name, path, password; } cases[] = {
        {"plain", "/a/b.dat", kPwd},
        {"semicolon in folder", "/a;b/c.dat", kPwd},
        {"equals sign in folder", "/a=b/c.dat", kPwd},
        {"keyword after semicolon", "/x;Data Source=y/c.dat", kPwd},
        {"password keyword in folder", "/x;Jet OLEDB:Database Password=z/c.dat", kPwd},
        {"placeholder in folder", "/%PWD%/%DBNAME%.dat", kPwd},
        {"double quotes", "/\"q\"/a\"\"b.dat", kPwd},
        {"starts with double quote", "\"/a.dat", kPwd},
        {"starts with single quote", "'/a.dat'", kPwd},
        {"single quotes inside", "/it's/o'k.dat", kPwd},
        {"leading and trailing space", " /a/b.dat ", kPwd},
        {"non-ASCII", "/\u00c9\u00e9n \u00fc/b.dat", kPwd},
        {"empty path and password", "", ""},
        {"password with separators", "/a.dat", "p;w=\"d' "},
        {"password is a placeholder", "/a.dat", "%DBNAME%"},
    };
    for (const Case& c : cases) {
        const std::string text =
            ConnectString::Fill("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%DBNAME%;Jet OLEDB:Database Password=%PWD%",
                                {{"%DBNAME%", c.path}, {"%PWD%", c.password}});
        const ConnectString cs = ConnectString::Parse(text);
        EXPECT_EQ(cs.dataSource(), c.path) << c.name << ": " << text;
        EXPECT_EQ(cs.password(), c.password) << c.name << ": " << text;
        EXPECT_EQ(cs.get("Provider"), "Microsoft.Jet.OLEDB.4.0") << c.name << ": " << text;
        EXPECT_EQ(ConnectString::Parse(";PWD=" + ConnectString::Value(c.password)).password(), c.password) << c.name;
    }
}

TEST(ConnectString, PasswordBytesTakeTheLowByteOfEachCharacter) {
    EXPECT_EQ(PasswordBytes(kPwd), "\xA9Pendrawix8");
    EXPECT_EQ(PasswordBytes("\u20ac"), "\xAC");  // U+20AC: low byte only
    EXPECT_EQ(PasswordBytes(""), "");
}

TEST(Connection, OpensOnlyWithTheRightPasswordAndNeverAForeignFile) {
    TempDir dir;
    const std::string keyed = dir.file("main.dat");
    MakeArchiveFile(keyed, kPwd);
    const std::string plain = dir.file("plain.omd");
    MakeArchiveFile(plain, "");
    const std::string empty = dir.file("empty.dat");
    qx::test::WriteFile(empty, "");
    const std::string text = dir.file("notes.dat");
    qx::test::WriteFile(text, std::string(70000, 'x'));

    struct Case { std::string path, pwd; bool opens; long error; } cases[] = {
        {keyed, kPwd, true, 0},
        {keyed, "\u00a9Pendrawix6", false, sql::kNotADatabase},
        {keyed, "", false, sql::kNotADatabase},
        {plain, "", true, 0},
        {plain, kPwd, false, sql::kNotADatabase},
        {empty, "", false, sql::kNotADatabase},
        {empty, kPwd, false, sql::kNotADatabase},
        {text, "", false, sql::kNotADatabase},
        {text, kPwd, false, sql::kNotADatabase},
        {dir.file("missing.dat"), kPwd, false, sql::kCantOpen},
    };
    for (const Case& c : cases) {
        Connection cn{qx::RealEnv()};
        EXPECT_EQ(cn.open(Cs(c.path, c.pwd)), c.opens) << c.path << " / " << c.pwd.size();
        EXPECT_EQ(cn.state(), c.opens ? StateOpen : StateClosed);
        if (!c.opens) {
            ASSERT_EQ(cn.errors().size(), 1u);
            EXPECT_EQ(cn.errors()[0].number, c.error) << cn.errors()[0].description;
            EXPECT_FALSE(cn.errors()[0].description.empty());
        }
    }
    // Failed opens must not have turned the empty file into a database.
    EXPECT_EQ(std::filesystem::file_size(empty), 0u);

    DaoDatabase dao;
    EXPECT_TRUE(dao.open(qx::RealEnv(), keyed, ";PWD=" + kPwd));
    EXPECT_TRUE(dao.testQuery("SELECT * FROM FOLDERS WHERE ID IS NULL"));
    EXPECT_FALSE(dao.testQuery("SELECT * FROM trash WHERE id IS NULL"));
    EXPECT_FALSE(DaoDatabase().open(qx::RealEnv(), keyed, ";PWD=\u00a9Pendrawix"));
}

// Opened for writing, a file is judged by its own entry and those of its
// side files: a link there (live or dangling) or a side file that is no
// regular file would carry the engine's writes elsewhere. Reading through a
// link stays possible.
TEST(Connection, NeverOpensForWritingThroughALinkOrBesideAnOddSideFile) {
    namespace fs = std::filesystem;
    struct Case {
        const char* name;
        std::function<void(const std::string& file, const std::string& away)> plant;
        bool readOnly;   // opened with Mode=Read
        bool opens;
    } cases[] = {
        {"the file a link to a database elsewhere",
         [](const std::string& f, const std::string& away) { fs::rename(f, away + "/real.dat"), fs::create_symlink(away + "/real.dat", f); },
         false, false},
        {"the same, read only",
         [](const std::string& f, const std::string& away) { fs::rename(f, away + "/real.dat"), fs::create_symlink(away + "/real.dat", f); },
         true, true},
        {"its journal a dangling link",
         [](const std::string& f, const std::string& away) { fs::create_symlink(away + "/journal", f + "-journal"); },
         false, false},
        {"its journal a link to a file",
         [](const std::string& f, const std::string& away) {
             qx::test::WriteFile(away + "/journal", ""), fs::create_symlink(away + "/journal", f + "-journal");
         },
         false, false},
        {"its write-ahead file a folder", [](const std::string& f, const std::string&) { fs::create_directory(f + "-wal"); },
         false, false},
        {"its shared-memory file a dangling link",
         [](const std::string& f, const std::string& away) { fs::create_symlink(away + "/shm", f + "-shm"); }, false,
         false},
        {"an empty regular journal beside it", [](const std::string& f, const std::string&) { qx::test::WriteFile(f + "-journal", ""); },
         false, true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        fs::create_directory(dir.file("away"));
        const std::string file = dir.file("main.dat");
        MakeArchiveFile(file, kPwd);
        c.plant(file, dir.file("away"));
        const auto away = qx::test::FolderBytes(dir.file("away"));
        Connection cn{qx::RealEnv()};
        EXPECT_EQ(cn.open((c.readOnly ? "Mode=Read;" : "") + Cs(file, kPwd)), c.opens) << c.name;
        if (!c.opens) {
            ASSERT_EQ(cn.errors().size(), 1u) << c.name;
            EXPECT_EQ(cn.errors()[0].number, sql::kNotRegularFile) << c.name << ": " << cn.errors()[0].description;
        } else if (!c.readOnly) {
            EXPECT_TRUE(cn.execute("CREATE TABLE T (X INTEGER)").has_value()) << c.name;
        }
        cn.close();
        EXPECT_EQ(qx::test::FolderBytes(dir.file("away")), away) << c.name;
    }
    // Nor is a new file created at a link's end.
    TempDir dir;
    std::filesystem::create_symlink(dir.file("elsewhere.dat"), dir.file("new.dat"));
    sql::Error err;
    EXPECT_FALSE(CreateDatabaseFile(qx::RealEnv(), dir.file("new.dat"), kPwd, err).isOpen());
    EXPECT_EQ(err.code, sql::kNotRegularFile) << err.message;
    EXPECT_FALSE(std::filesystem::exists(dir.file("elsewhere.dat")));
}

TEST(Connection, ReportsDataSourceCatalogAndRecordsAffected) {
    TempDir dir;
    const std::string path = dir.file("Ar;chief=1.dat");
    MakeArchiveFile(path, kPwd);
    Connection cn{qx::RealEnv()};
    ASSERT_TRUE(cn.open(Cs(path, kPwd)));
    EXPECT_EQ(cn.dataSource(), path);
    EXPECT_EQ(cn.property("Data Source").value_or(""), path);
    EXPECT_EQ(cn.connectionString(), Cs(path, kPwd));

    std::vector<std::string> names;
    for (const CatalogTable& t : cn.tables())
        if (t.type == "TABLE") names.push_back(t.name);
    EXPECT_EQ(names, (std::vector<std::string>{"FOLDERS", "PICTURES"}));

    EXPECT_EQ(cn.execute("UPDATE FOLDERS SET PARENT = 5 WHERE NOT ISFOLDER"), 3);
    EXPECT_EQ(cn.execute("DELETE FROM FOLDERS WHERE ID = 999"), 0);
    EXPECT_FALSE(cn.execute("DELETE FROM NOSUCH").has_value());
    ASSERT_FALSE(cn.errors().empty());
    EXPECT_NE(cn.errors()[0].description.find("NOSUCH"), std::string::npos);

    cn.close();
    EXPECT_EQ(cn.dataSource(), "");
    EXPECT_FALSE(cn.execute("DELETE FROM FOLDERS").has_value());
}

TEST_F(RecordsetTest, ReadsValuesNullsAndSizesInEveryMode) {
    for (CursorMode mode : {CursorMode::Scan, CursorMode::Lookup, CursorMode::Edit}) {
        Recordset rs;
        ASSERT_TRUE(rs.open("SELECT * FROM PICTURES ORDER BY ID", cn, mode));
        std::vector<std::int64_t> sizes;
        std::vector<bool> nulls;
        for (; !rs.eof(); rs.moveNext()) {
            sizes.push_back(rs.actualSize("picture"));
            nulls.push_back(rs.value("PICTURE").isNull());
        }
        EXPECT_EQ(sizes, (std::vector<std::int64_t>{5, 0, 0})) << int(mode);
        EXPECT_EQ(nulls, (std::vector<bool>{false, false, true})) << int(mode);
        Recordset folders;
        ASSERT_TRUE(folders.open("SELECT ISFOLDER, NAME FROM FOLDERS ORDER BY ID", cn, mode));
        std::vector<std::string> values;
        for (; !folders.eof(); folders.moveNext())
            values.push_back(folders.value("ISFOLDER").toString() + "/" + folders.value("NAME").toString());
        EXPECT_EQ(values, (std::vector<std::string>{"-1/A", "0/doc1", "0/doc2", "0/"})) << int(mode);
    }
    Recordset rs;
    ASSERT_TRUE(rs.open("SELECT ID, PICTURE FROM PICTURES WHERE ID = 2", cn, CursorMode::Lookup));
    EXPECT_EQ(rs.value("PICTURE"), Variant(Bytes{1, 2, 3, 4, 5}));
    std::uint8_t piece[2];
    EXPECT_EQ(rs.readChunk("PICTURE", 0, piece), 2);
    EXPECT_EQ(piece[1], 2);
    EXPECT_EQ(rs.readChunk("PICTURE", 4, piece), 1);
    EXPECT_EQ(piece[0], 5);
    EXPECT_EQ(rs.readChunk("PICTURE", 5, piece), 0);
    EXPECT_TRUE(rs.value("NOSUCH").isNull());
    EXPECT_EQ(rs.lastError().code, sql::kNotFound);

    Recordset none;
    ASSERT_TRUE(none.open("SELECT ID FROM PICTURES WHERE ID = NULL", cn, CursorMode::Lookup));
    EXPECT_TRUE(none.eof());

    Recordset join;
    ASSERT_TRUE(join.open("SELECT FOLDERS.NAME AS N, PICTURES.PICTURE AS P FROM FOLDERS, PICTURES "
                          "WHERE FOLDERS.ID = PICTURES.ID ORDER BY FOLDERS.ID", cn, CursorMode::Edit));
    EXPECT_FALSE(join.updatable());
    EXPECT_EQ(join.value("N").toString(), "doc1");
    EXPECT_EQ(join.actualSize("P"), 5);
    EXPECT_FALSE(join.setValue("N", "x"));
}

TEST_F(RecordsetTest, EditsAddsAndDeletesRowsWithAutoNumbers) {
    Recordset rs;
    ASSERT_TRUE(rs.open("SELECT * FROM FOLDERS WHERE ID = 4", cn, CursorMode::Edit));
    EXPECT_TRUE(rs.value("NAME").isNull());
    EXPECT_TRUE(rs.value("PARENT").isNull());

    // The new row's number is known before the row is written, and a
    // cancelled or deleted row's number is never handed out again.
    ASSERT_TRUE(rs.addNew());
    const auto first = rs.value("ID").toInt64();
    EXPECT_EQ(first, 5);
    rs.cancelUpdate();
    ASSERT_TRUE(rs.addNew());
    const auto second = rs.value("ID").toInt64();
    EXPECT_EQ(second, 6);
    ASSERT_TRUE(rs.setValue("NAME", "Fixed 6"));
    ASSERT_TRUE(rs.setValue("ISFOLDER", false));
    ASSERT_TRUE(rs.update());
    EXPECT_EQ(rs.value("NAME").toString(), "Fixed 6");
    ASSERT_TRUE(rs.deleteCurrent());
    EXPECT_TRUE(rs.value("NAME").isNull());
    ASSERT_TRUE(rs.addNew());
    EXPECT_EQ(rs.value("ID").toInt64(), 7);
    ASSERT_TRUE(rs.setValue("ID", 40));  // an explicit number wins
    ASSERT_TRUE(rs.update());
    rs.close();

    Recordset check;
    ASSERT_TRUE(check.open("SELECT ID FROM FOLDERS ORDER BY ID", cn, CursorMode::Lookup));
    std::vector<std::int64_t> ids;
    for (; !check.eof(); check.moveNext()) ids.push_back(check.value("ID").toInt64());
    EXPECT_EQ(ids, (std::vector<std::int64_t>{1, 2, 3, 4, 40}));

    Recordset ro;
    ASSERT_TRUE(ro.open("SELECT * FROM FOLDERS", cn, CursorMode::Lookup));
    EXPECT_FALSE(ro.setValue("NAME", "x"));
    EXPECT_EQ(ro.lastError().code, sql::kNotUpdatable);
}

TEST_F(RecordsetTest, VisitsEveryRowOnceWhileTheOrderingColumnChanges) {
    ASSERT_TRUE(cn.execute("WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < 500) "
                           "INSERT INTO FOLDERS (PARENT, NAME, ISFOLDER) SELECT i % 7, 'd' || i, 0 FROM r"));
    Recordset rs;
    ASSERT_TRUE(rs.open("SELECT ID, PARENT FROM FOLDERS WHERE NOT ISFOLDER ORDER BY PARENT", cn, CursorMode::Edit));
    std::set<std::int64_t> seen;
    int visits = 0;
    for (; !rs.eof(); rs.moveNext()) {
        ++visits;
        seen.insert(rs.value("ID").toInt64());
        ASSERT_TRUE(rs.setValue("PARENT", rs.value("PARENT").toInt64() + 1000));  // moves it to the end
        ASSERT_TRUE(rs.update());
    }
    EXPECT_EQ(visits, 503);
    EXPECT_EQ(seen.size(), 503u);
}

TEST_F(RecordsetTest, StreamsLargeValuesInAndOutAndKeepsTheOldOneOnFailure) {
    const std::int64_t size = 5 * 1024 * 1024 + 17;
    auto pattern = [](std::int64_t off) { return static_cast<std::uint8_t>((off * 31 + off / 4096) & 0xFF); };
    auto source = [&](std::int64_t off, std::span<std::uint8_t> into) {
        for (size_t i = 0; i < into.size(); ++i) into[i] = pattern(off + static_cast<std::int64_t>(i));
        return true;
    };
    {
        Recordset rs;
        ASSERT_TRUE(rs.open("SELECT * FROM PICTURES WHERE ID = 10", cn, CursorMode::Edit));
        ASSERT_TRUE(rs.addNew());
        ASSERT_TRUE(rs.setValue("ID", 10));
        ASSERT_TRUE(rs.setValueFromStream("PICTURE", size, source));
        ASSERT_TRUE(rs.update()) << rs.lastError().message;
    }
    {
        Recordset rs;
        ASSERT_TRUE(rs.open("SELECT * FROM PICTURES WHERE ID = 10", cn, CursorMode::Scan));
        ASSERT_EQ(rs.actualSize("PICTURE"), size);
        std::vector<std::uint8_t> buf(65536);
        std::int64_t off = 0, bad = 0;
        while (std::int64_t n = rs.readChunk("PICTURE", off, buf)) {
            for (std::int64_t i = 0; i < n; ++i) bad += buf[static_cast<size_t>(i)] != pattern(off + i);
            off += n;
        }
        EXPECT_EQ(off, size);
        EXPECT_EQ(bad, 0);
    }
    {
        Recordset rs;
        ASSERT_TRUE(rs.open("SELECT * FROM PICTURES WHERE ID = 2", cn, CursorMode::Edit));
        ASSERT_TRUE(rs.setValueFromStream("PICTURE", 3 << 20, [](std::int64_t off, std::span<std::uint8_t>) {
            return off == 0;  // the source breaks after the first piece
        }));
        EXPECT_FALSE(rs.update());
        EXPECT_EQ(rs.lastError().code, sql::kStreamFailed);
        rs.cancelUpdate();
        EXPECT_EQ(rs.value("PICTURE"), Variant(Bytes{1, 2, 3, 4, 5}));
    }
}

TEST(Connection, DetectsAReadOnlyFileOrFolder) {
    // Root ignores permission bits; an immutable file or folder stops even root.
    for (bool lockFolder : {false, true}) {
        TempDir dir;
        const std::string path = dir.file("ro.dat");
        MakeArchiveFile(path, kPwd);
        {
            Connection cn{qx::RealEnv()};
            ASSERT_TRUE(cn.open(Cs(path, kPwd)));
            EXPECT_FALSE(cn.isReadOnly());
        }
        qx::test::Immutable lock(lockFolder ? dir.path() : path);
        if (!lock.ok()) GTEST_SKIP() << "chattr +i is not available here, so nothing can be made read-only for root";
        Connection cn{qx::RealEnv()};
        ASSERT_TRUE(cn.open(Cs(path, kPwd)));
        EXPECT_TRUE(cn.isReadOnly()) << (lockFolder ? "folder" : "file");
        Recordset rs;
        ASSERT_TRUE(rs.open("SELECT * FROM FOLDERS", cn, CursorMode::Edit));
        EXPECT_FALSE(rs.setValue("ID", rs.value("ID")));
        EXPECT_EQ(rs.lastError().code, sql::kReadOnly);
        EXPECT_FALSE(cn.execute("DELETE FROM FOLDERS").has_value());
    }
}

TEST(Connection, ModeReadOpensTheFileForReadingOnly) {
    struct Case {
        std::string name, before, after;  // around the usual connect string
        bool readOnly;
    } cases[] = {
        {"no mode", "", "", false},
        {"Read first", "Mode=Read;", "", true},
        {"Read last", "", ";Mode=Read", true},
        {"read in lower case", "mode=read;", "", true},
        {"Read with a sharing mode", "Mode=Read|Share Deny None;", "", true},
        {"ReadWrite", "Mode=ReadWrite;", "", false},
        {"sharing mode only", "Mode=Share Deny None;", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.file("sub.pdb");
        MakeArchiveFile(path, kPwd);
        const auto before = qx::test::FolderBytes(dir.path());
        {
            Connection cn{qx::RealEnv()};
            ASSERT_TRUE(cn.open(c.before + Cs(path, kPwd) + c.after));
            EXPECT_EQ(cn.dataSource(), path);
            EXPECT_EQ(cn.isReadOnly(), c.readOnly);
            EXPECT_EQ(qx::test::HeldOpenAs(path), c.readOnly ? "read" : "read-write");
            Recordset rs;
            ASSERT_TRUE(rs.open("SELECT ID, PICTURE FROM PICTURES ORDER BY ID", cn, CursorMode::Edit));
            EXPECT_EQ(rs.actualSize("PICTURE"), 5);
            if (!c.readOnly) continue;
            EXPECT_FALSE(rs.deleteCurrent());
            EXPECT_EQ(rs.lastError().code, sql::kReadOnly);
            EXPECT_FALSE(cn.execute("DELETE FROM FOLDERS").has_value());
            ASSERT_FALSE(cn.errors().empty());
            EXPECT_EQ(cn.errors().front().number, sql::kReadOnly);
        }
        if (c.readOnly) {
            EXPECT_TRUE(qx::test::ChangedFiles(before, qx::test::FolderBytes(dir.path())).empty());
        }
    }
}

TEST(Connection, ModeReadNeverOpensAForeignFileForWriting) {
    // As root a plain open takes any file for writing; the watch proves
    // that it would have been seen.
    TempDir dir;
    const std::string text = dir.file("passwd");
    qx::test::WriteFile(text, "root:x:0:0:root:/root:/bin/bash\n" + std::string(5000, '#'));
    const std::string empty = dir.file("empty.pdb");
    qx::test::WriteFile(empty, "");
    struct Case { std::string name, mode; bool seen; } cases[] = {
        {"read-write", "", ::geteuid() == 0},
        {"Mode=Read", "Mode=Read;", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qx::test::WriteWatch watch;
        watch.add(dir.path());
        for (const std::string& path : {text, empty}) {
            Connection cn{qx::RealEnv()};
            EXPECT_FALSE(cn.open(c.mode + Cs(path, kPwd)));
            ASSERT_FALSE(cn.errors().empty());
            EXPECT_EQ(cn.errors().front().number, sql::kNotADatabase) << path;
        }
        const auto changes = watch.changes();
        if (c.seen) {
            EXPECT_FALSE(changes.empty());
        } else {
            EXPECT_TRUE(changes.empty()) << ::testing::PrintToString(changes);
        }
    }
    EXPECT_EQ(std::filesystem::file_size(empty), 0u);
}
