// The archive files the tool creates: every generation's main database, sub
// and OCR databases, and the names derived from a main database path.
#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "support/engine/Connection.h"
#include "support/engine/Dao.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

using namespace qx;
using namespace qx::engine;
using qx::test::TempDir;

namespace {

std::string Cs(const std::string& path, const std::string& pwd) {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";Jet OLEDB:Database Password=" + pwd;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Columns(sql::Database& db, const std::string& table) {
    std::vector<std::string> out;
    sql::Statement st(db, "PRAGMA table_info(\"" + table + "\")");
    while (st.step() == sql::Step::Row) out.push_back(st.getText(1) + " " + st.getText(2));
    return out;
}

std::int64_t Scalar(sql::Database& db, const std::string& text) {
    sql::Statement st(db, text);
    EXPECT_TRUE(st.ok()) << text << ": " << st.error().message;
    return st.step() == sql::Step::Row ? st.getInt64(0) : -999;
}

const std::vector<std::string> kPasswords = {"\u00a9Pendrawix8", "\u00a9Pendrawix6", "\u00a9Pendrawix",
                                             "\u00a9Lomadriq", ""};

bool HasShell() { return std::system("command -v sqlite3 >/dev/null 2>&1") == 0; }

}  // namespace

TEST(Schema, EveryGenerationOpensWithItsOwnPasswordOnly) {
    struct Case { int generation; std::string password; bool trash; } cases[] = {
        {8, "\u00a9Pendrawix8", true}, {7, "\u00a9Pendrawix6", true}, {6, "\u00a9Pendrawix6", false},
        {5, "\u00a9Pendrawix", false}, {4, "\u00a9Lomadriq", false},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.generation);
        EXPECT_EQ(PasswordForGeneration(c.generation), c.password);
        const std::string path = dir.file("gen" + std::to_string(c.generation) + ".dat");
        sql::Error err;
        ASSERT_TRUE(CreateMainDatabase(path, c.generation, err)) << err.message;

        for (const std::string& pwd : kPasswords) {
            const bool expected = pwd == c.password;
            Connection cn;
            EXPECT_EQ(cn.open(Cs(path, pwd)), expected) << "password " << pwd;
            DaoDatabase dao;
            EXPECT_EQ(dao.open(path, ";PWD=" + pwd), expected) << "password " << pwd;
        }

        DaoDatabase dao;
        ASSERT_TRUE(dao.open(path, ";PWD=" + c.password));
        EXPECT_EQ(dao.testQuery("SELECT * FROM trash WHERE id IS NULL"), c.trash);
        EXPECT_EQ(dao.testQuery("SELECT TrashMark FROM FOLDERS WHERE ID = NULL"), c.trash);
        for (const char* table : {"FOLDERS", "DATABASES", "words", "settings", "properties", "memos", "inboxes"})
            EXPECT_TRUE(dao.tableExists(table)) << table;
        EXPECT_FALSE(dao.tableExists("PICTURES"));
    }
}

TEST(Schema, UnknownGenerationsCreateNothing) {
    TempDir dir;
    for (int generation : {0, 3, 9, -1}) {
        EXPECT_EQ(PasswordForGeneration(generation), "");
        EXPECT_TRUE(MainDatabaseTables(generation).empty());
        sql::Error err;
        EXPECT_FALSE(CreateMainDatabase(dir.file("x.dat"), generation, err));
        EXPECT_TRUE(err);
        EXPECT_FALSE(std::filesystem::exists(dir.file("x.dat")));
    }
}

TEST(Schema, ColumnsKeepTheProductsOrderAndTypes) {
    TempDir dir;
    sql::Error err;
    ASSERT_TRUE(CreateMainDatabase(dir.file("m.dat"), 8, err)) << err.message;
    ASSERT_TRUE(CreateSubDatabaseFile(dir.file("m_1.pdb"), "\u00a9Pendrawix8", err)) << err.message;
    sql::Database main = sql::Database::open(dir.file("m.dat"), PasswordBytes("\u00a9Pendrawix8"),
                                             sql::OpenMode::ReadWrite, err);
    ASSERT_TRUE(main.isOpen()) << err.message;
    EXPECT_EQ(Columns(main, "FOLDERS"),
              (std::vector<std::string>{"ID INTEGER", "PARENT INTEGER", "ISFOLDER BOOLEAN", "NAME VARCHAR(80)",
                                        "word1 VARCHAR(80)", "word2 VARCHAR(80)", "word3 VARCHAR(80)",
                                        "word4 VARCHAR(80)", "word5 VARCHAR(80)", "POSTAL VARCHAR(50)",
                                        "DATE VARCHAR(10)", "NOTES TEXT", "DATABASEID INTEGER",
                                        "TEMPLATE1 VARCHAR(50)", "template2 VARCHAR(100)", "PAGE SMALLINT",
                                        "WIDTH INTEGER", "HEIGHT INTEGER", "content TEXT", "TRASHMARK BOOLEAN"}));
    EXPECT_EQ(Columns(main, "trash"),
              (std::vector<std::string>{"id INTEGER", "virtualpath TEXT", "datetime VARCHAR(12)"}));
    for (const char* index : {"FOLDERS.Naam", "FOLDERS.parentID", "DATABASES.ID", "words.Word"})
        EXPECT_EQ(Scalar(main, std::string("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name = '") +
                                   index + "'"),
                  1)
            << index;

    sql::Database sub = sql::Database::open(dir.file("m_1.pdb"), PasswordBytes("\u00a9Pendrawix8"),
                                            sql::OpenMode::ReadWrite, err);
    ASSERT_TRUE(sub.isOpen()) << err.message;
    EXPECT_EQ(Columns(sub, "PICTURES"), (std::vector<std::string>{"ID INTEGER", "path TEXT", "PICTURE BLOB"}));
    EXPECT_EQ(Scalar(sub, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%'"), 1);
}

TEST(Schema, StatementsOfTheArchiveLogicRunOnNewFiles) {
    TempDir dir;
    const std::string pwd = PasswordForGeneration(8);
    sql::Error err;
    ASSERT_TRUE(CreateMainDatabase(dir.file("m.dat"), 8, err)) << err.message;
    ASSERT_TRUE(CreateSubDatabaseFile(dir.file("m_1.pdb"), pwd, err)) << err.message;

    Connection cn;
    ASSERT_TRUE(cn.open(Cs(dir.file("m.dat"), pwd)));
    ASSERT_TRUE(cn.execute("INSERT INTO DATABASES (DATABASE) VALUES ('" + dir.file("m_1.pdb") + "')"));
    // One folder, two documents in sub database 1 (one of them trashed), one without data.
    ASSERT_TRUE(cn.execute("INSERT INTO FOLDERS (PARENT, ISFOLDER, NAME, DATABASEID, TEMPLATE1, PAGE, TRASHMARK, "
                           "DATE) VALUES (0, -1, 'A', 0, NULL, 1, 0, NULL), (1, 0, 'd', 1, 'MP', 1, 0, '20080101'), "
                           "(1, 0, 'e', 1, 'MC2', 2, -1, NULL), (1, 0, 'f', 0, NULL, 1, 0, NULL)"));

    struct Case { std::string sql; std::int64_t rows; } cases[] = {
        {"SELECT DATABASES.ID AS DATABASEID, DATABASES.DATABASE AS DATABASENAME FROM DATABASES, FOLDERS "
         "WHERE (DATABASES.ID = FOLDERS.DATABASEID) AND (FOLDERS.ID = 2)", 1},
        {"SELECT DATABASES.ID AS DATABASEID, DATABASES.DATABASE AS DATABASENAME FROM DATABASES, FOLDERS "
         "WHERE (DATABASES.ID = FOLDERS.DATABASEID) AND (FOLDERS.ID = 1)", 0},
        {"SELECT DISTINCT DATABASEID FROM FOLDERS WHERE NOT ISFOLDER AND DATABASEID > 0 ORDER BY DATABASEID", 1},
        {"SELECT * FROM FOLDERS WHERE TEMPLATE1 LIKE 'MP%'", 1},
        {"SELECT COUNT(*) FROM FOLDERS WHERE trashmark <> 0", 1},
        {"SELECT id, parent FROM folders WHERE trashmark <> 0 AND NOT isfolder", 1},
        {"SELECT * FROM FOLDERS WHERE NOT ISFOLDER", 3},
        {"SELECT DATABASE FROM DATABASES WHERE ID = 1", 1},
        {"SELECT ID, DATE, NAME FROM FOLDERS WHERE DATE = '20080101'", 1},
        {"SELECT * FROM trash WHERE id IS NULL", 0},
        {"SELECT TrashMark FROM FOLDERS WHERE ID = NULL", 0},
    };
    for (const Case& c : cases) {
        sql::Statement st(cn.database(), c.sql);
        ASSERT_TRUE(st.ok()) << c.sql << ": " << st.error().message;
        std::int64_t rows = 0;
        sql::Step s;
        while ((s = st.step()) == sql::Step::Row) ++rows;
        EXPECT_EQ(s, sql::Step::Done) << c.sql;
        EXPECT_EQ(rows, c.rows) << c.sql;
    }
    EXPECT_EQ(Scalar(cn.database(), "SELECT COUNT(*) FROM FOLDERS WHERE trashmark <> 0"), 1);
    EXPECT_EQ(cn.execute("UPDATE FOLDERS SET DATABASEID = 2 WHERE DATABASEID = 1"), std::optional<std::int64_t>(2));

    Connection pdb;
    ASSERT_TRUE(pdb.open(Cs(dir.file("m_1.pdb"), pwd)));
    sql::Statement st(pdb.database(), "SELECT ID FROM PICTURES WHERE ID = NULL");
    ASSERT_TRUE(st.ok()) << st.error().message;
    EXPECT_EQ(st.step(), sql::Step::Done);
}

TEST(Schema, AutoNumbersAreNeverHandedOutTwice) {
    TempDir dir;
    const std::string pwd = PasswordForGeneration(8);
    sql::Error err;
    ASSERT_TRUE(CreateMainDatabase(dir.file("m.dat"), 8, err)) << err.message;
    ASSERT_TRUE(CreateSubDatabaseFile(dir.file("m_1.pdb"), pwd, err)) << err.message;
    struct Case { std::string file, table, column; } cases[] = {
        {"m.dat", "FOLDERS", "NAME"}, {"m.dat", "DATABASES", "DATABASE"}, {"m_1.pdb", "PICTURES", "path"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.table);
        Connection cn;
        ASSERT_TRUE(cn.open(Cs(dir.file(c.file), pwd)));
        const std::string insert = "INSERT INTO " + c.table + " (" + c.column + ") VALUES ('x')";
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(cn.execute(insert));
        ASSERT_TRUE(cn.execute("DELETE FROM " + c.table + " WHERE ID >= 2"));
        ASSERT_TRUE(cn.execute(insert));
        EXPECT_EQ(Scalar(cn.database(), "SELECT MAX(ID) FROM " + c.table), 4);
    }
}

TEST(Schema, SubAndOcrDatabases) {
    TempDir dir;
    const std::string pwd = PasswordForGeneration(7);
    sql::Error err;
    ASSERT_TRUE(CreateSubDatabaseFile(dir.file("a_1.pdb"), pwd, err)) << err.message;
    ASSERT_TRUE(CreateOmdDatabase(dir.file("a.omd"), err)) << err.message;

    for (const std::string& p : kPasswords) {
        DaoDatabase dao;
        EXPECT_EQ(dao.open(dir.file("a_1.pdb"), ";PWD=" + p), p == pwd) << p;
    }
    Connection omd;
    EXPECT_TRUE(omd.open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + dir.file("a.omd") + ";"));
    Connection keyedOmd;
    EXPECT_FALSE(keyedOmd.open(Cs(dir.file("a.omd"), pwd)));

    // A sub database without its key would be data that nobody can open.
    EXPECT_FALSE(CreateSubDatabaseFile(dir.file("a_2.pdb"), "", err));
    EXPECT_TRUE(err);
    EXPECT_FALSE(std::filesystem::exists(dir.file("a_2.pdb")));
}

TEST(Schema, ExistingFilesAreNeverOverwritten) {
    TempDir dir;
    const std::string pwd = PasswordForGeneration(8);
    using Create = std::function<bool(const std::string&, sql::Error&)>;
    const Create creators[] = {
        [](const std::string& p, sql::Error& e) { return CreateMainDatabase(p, 8, e); },
        [&](const std::string& p, sql::Error& e) { return CreateSubDatabaseFile(p, pwd, e); },
        [](const std::string& p, sql::Error& e) { return CreateOmdDatabase(p, e); },
    };
    const std::string foreign = "not ours";
    for (const std::string& content : {foreign, std::string()}) {
        for (const Create& create : creators) {
            const std::string path = dir.file("taken.dat");
            qx::test::WriteFile(path, content);
            sql::Error err;
            EXPECT_FALSE(create(path, err));
            EXPECT_TRUE(err);
            ASSERT_TRUE(std::filesystem::exists(path));
            EXPECT_EQ(ReadAll(path), content);
        }
    }
    // A file made by us is not remade either.
    sql::Error err;
    ASSERT_TRUE(CreateMainDatabase(dir.file("m.dat"), 8, err)) << err.message;
    const std::string before = ReadAll(dir.file("m.dat"));
    EXPECT_FALSE(CreateMainDatabase(dir.file("m.dat"), 6, err));
    EXPECT_EQ(ReadAll(dir.file("m.dat")), before);
    // A missing folder fails without leaving anything behind.
    EXPECT_FALSE(CreateOmdDatabase(dir.file("no/such/a.omd"), err));
    EXPECT_TRUE(err);
    EXPECT_FALSE(std::filesystem::exists(dir.file("no")));
}

TEST(Schema, KeyedFilesAreUnreadableWithoutTheKey) {
    if (!HasShell()) GTEST_SKIP() << "no sqlite3 tool installed";
    TempDir dir;
    sql::Error err;
    ASSERT_TRUE(CreateMainDatabase(dir.file("m.dat"), 8, err)) << err.message;
    ASSERT_TRUE(CreateSubDatabaseFile(dir.file("m_1.pdb"), PasswordForGeneration(8), err)) << err.message;
    ASSERT_TRUE(CreateOmdDatabase(dir.file("m.omd"), err)) << err.message;
    auto shell = [&](const std::string& file, const std::string& table) {
        return std::system(("sqlite3 \"" + dir.file(file) + "\" 'SELECT count(*) FROM " + table +
                            "' >/dev/null 2>&1").c_str());
    };
    EXPECT_NE(shell("m.dat", "FOLDERS"), 0);
    EXPECT_NE(shell("m_1.pdb", "PICTURES"), 0);
    EXPECT_EQ(shell("m.omd", "OCRWORDS"), 0);
}

TEST(FileNames, DerivedFromTheMainDatabasePath) {
    struct Case { std::string main, sub5, omd, log; } cases[] = {
        {"/a/Kantoor.dat", "/a/Kantoor_5.pdb", "/a/Kantoor.omd", "/a/Kantoor.log"},
        {"/a/Kantoor.2008.dat", "/a/Kantoor.2008_5.pdb", "/a/Kantoor.2008.omd", "/a/Kantoor.2008.log"},
        {"/a/Kantoor.DAT", "/a/Kantoor_5.pdb", "/a/Kantoor.omd", "/a/Kantoor.log"},
        // A "." in a folder name is not an extension.
        {"/data/v1.2/Kantoor", "/data/v1.2/Kantoor_5.pdb", "/data/v1.2/Kantoor.omd", "/data/v1.2/Kantoor.log"},
        {"/data/v1.2/Kantoor.dat", "/data/v1.2/Kantoor_5.pdb", "/data/v1.2/Kantoor.omd", "/data/v1.2/Kantoor.log"},
        // Extensions of other lengths are replaced whole, not cut into.
        {"/a/Kantoor.db", "/a/Kantoor_5.pdb", "/a/Kantoor.omd", "/a/Kantoor.log"},
        {"/a/Kantoor.data", "/a/Kantoor_5.pdb", "/a/Kantoor.omd", "/a/Kantoor.log"},
        {"/a/.dat", "/a/_5.pdb", "/a/.omd", "/a/.log"},
        {"Kantoor.dat", "Kantoor_5.pdb", "Kantoor.omd", "Kantoor.log"},
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.main);
        EXPECT_EQ(SubDatabaseName(c.main, 5), c.sub5);
        EXPECT_EQ(OmdName(c.main), c.omd);
        EXPECT_EQ(LogName(c.main), c.log);
    }
    EXPECT_EQ(SubDatabaseName("/a/K.dat", 123456), "/a/K_123456.pdb");
}

TEST(FileNames, SetAsideNamesTakeTheFirstFreeCounter) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("v1.2"));
    const std::string pdb = dir.file("v1.2/K_3.pdb");
    struct Case {
        std::string (*name)(std::string_view);
        std::string suffix;
    } cases[] = {{&DeletedName, ".deleted"}, {&ObsoleteName, ".obsolete"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.suffix);
        EXPECT_EQ(c.name(pdb), pdb + c.suffix);
        qx::test::WriteFile(pdb + c.suffix, "x");
        EXPECT_EQ(c.name(pdb), pdb + "_001" + c.suffix);
        qx::test::WriteFile(pdb + "_001" + c.suffix, "x");
        // A folder of that name is not free either.
        std::filesystem::create_directory(pdb + "_002" + c.suffix);
        EXPECT_EQ(c.name(pdb), pdb + "_003" + c.suffix);
        EXPECT_EQ(c.name(""), "");
    }
}
