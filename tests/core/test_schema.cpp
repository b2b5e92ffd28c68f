// The files the tool creates (every generation's main, sub and OCR databases) and the names derived from them.
#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "support/engine/Connection.h"
#include "support/engine/Dao.h"
#include "tests/core/CliRunner.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace qx;
using namespace qx::engine;
using namespace qx::test;

namespace {

std::string Cs(const std::string& path, const std::string& pwd) {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";Jet OLEDB:Database Password=" + pwd;
}

// The first column of every row a statement returns.
std::vector<std::string> Rows(Connection& cn, const std::string& text) {
    std::vector<std::string> out;
    sql::Statement st(cn.database(), text);
    sql::Step s;
    while ((s = st.step()) == sql::Step::Row) out.push_back(st.getText(0));
    EXPECT_EQ(s, sql::Step::Done) << text << ": " << st.error().message;
    return out;
}

// A fresh main database of generation 8, its OCR database and its sub database 1 (open).
struct Files {
    Files() {
        sql::Error err;
        EXPECT_TRUE(CreateMainDatabase(qx::RealEnv(), dir.file("m.dat"), 8, err) && CreateOmdDatabase(qx::RealEnv(), dir.file("m.omd"), err) &&
                    CreateSubDatabaseFile(qx::RealEnv(), dir.file("m_1.pdb"), pwd, err)) << err.message;
        EXPECT_TRUE(main.open(Cs(dir.file("m.dat"), pwd)) && sub.open(Cs(dir.file("m_1.pdb"), pwd)));
    }
    TempDir dir;
    const std::string pwd = PasswordForGeneration(8);
    Connection main{qx::RealEnv()}, sub{qx::RealEnv()};
};

}  // namespace

TEST(Schema, EveryGenerationOpensWithItsOwnPasswordOnly) {
    const std::string keys[] = {"\u00a9Lomadriq", "\u00a9Pendrawix", "\u00a9Pendrawix6", "\u00a9Pendrawix6",
                                "\u00a9Pendrawix8", ""};
    TempDir dir;
    for (int gen = 4; gen <= 8; ++gen) {
        SCOPED_TRACE(gen);
        const std::string dat = dir.file("gen" + std::to_string(gen) + ".dat");
        sql::Error err;
        ASSERT_TRUE(CreateMainDatabase(qx::RealEnv(), dat, gen, err) && CreateSubDatabaseFile(qx::RealEnv(), dat + ".pdb", keys[gen - 4], err))
            << err.message;
        for (const std::string& pwd : keys) {
            Connection cn{qx::RealEnv()};
            DaoDatabase dao, sub;
            EXPECT_EQ(cn.open(Cs(dat, pwd)), pwd == keys[gen - 4]) << pwd;
            EXPECT_EQ(dao.open(qx::RealEnv(), dat, ";PWD=" + pwd), pwd == keys[gen - 4]) << pwd;
            EXPECT_EQ(sub.open(qx::RealEnv(), dat + ".pdb", ";PWD=" + pwd), pwd == keys[gen - 4]) << pwd;
        }
        DaoDatabase dao;
        ASSERT_TRUE(dao.open(qx::RealEnv(), dat, ";PWD=" + keys[gen - 4]));
        EXPECT_EQ(dao.testQuery("SELECT * FROM trash WHERE id IS NULL"), gen >= 7);  // a trash from 7 on
        EXPECT_EQ(dao.testQuery("SELECT TrashMark FROM FOLDERS WHERE ID = NULL"), gen >= 7);
        for (const char* table : {"FOLDERS", "DATABASES", "words", "settings", "properties", "memos", "inboxes"})
            EXPECT_TRUE(dao.tableExists(table)) << table;
    }
}

// The columns themselves are compared with docs/archive-format.md in
// test_format_document.cpp; here the statements the checks run.
TEST(Schema, IndexesStatementsAndAutoNumbers) {
    Files f;
    ASSERT_TRUE(f.main.execute("INSERT INTO DATABASES (DATABASE) VALUES ('" + f.dir.file("m_1.pdb") + "')"));
    // One folder, two documents in sub database 1 (one of them trashed), one without data.
    ASSERT_TRUE(f.main.execute("INSERT INTO FOLDERS (PARENT, ISFOLDER, NAME, DATABASEID, TEMPLATE1, PAGE, TRASHMARK, "
                               "DATE) VALUES (0, -1, 'A', 0, NULL, 1, 0, NULL), (1, 0, 'd', 1, 'MP', 1, 0, '20080101'),"
                               " (1, 0, 'e', 1, 'MC2', 2, -1, NULL), (1, 0, 'f', 0, NULL, 1, 0, NULL)"));
    struct Case { Connection& cn; std::string sql; std::vector<std::string> rows; } cases[] = {
        {f.main, "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name IN ('FOLDERS.Naam', "
                 "'FOLDERS.parentID', 'DATABASES.ID', 'words.Word')", {"4"}},
        {f.main, "SELECT DATABASES.ID AS DATABASEID, DATABASES.DATABASE AS DATABASENAME FROM DATABASES, FOLDERS "
                 "WHERE (DATABASES.ID = FOLDERS.DATABASEID) AND (FOLDERS.ID = 2)", {"1"}},
        {f.main, "SELECT DISTINCT DATABASEID FROM FOLDERS WHERE NOT ISFOLDER AND DATABASEID > 0", {"1"}},
        {f.main, "SELECT id, parent FROM folders WHERE trashmark <> 0 AND NOT isfolder", {"3"}},
        {f.main, "SELECT ID, DATE, NAME FROM FOLDERS WHERE DATE = '20080101' AND TEMPLATE1 LIKE 'MP%'", {"2"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Rows(c.cn, c.sql), c.rows) << c.sql;
    // AutoNumbers are never handed out twice, not even after the rows that had them are deleted.
    struct Auto { Connection& db; std::string table, column, id; } autos[] = {
        {f.main, "FOLDERS", "NAME", "6"}, {f.main, "DATABASES", "DATABASE", "3"}, {f.sub, "PICTURES", "path", "2"}};
    for (const Auto& c : autos) {
        const std::string ins = "INSERT INTO " + c.table + " (" + c.column + ") VALUES ('x')";
        ASSERT_TRUE(c.db.execute(ins) && c.db.execute("DELETE FROM " + c.table) && c.db.execute(ins));
        EXPECT_EQ(Rows(c.db, "SELECT ID FROM " + c.table), std::vector<std::string>{c.id}) << c.table;
    }
}

TEST(Schema, OnlyTheOcrFileIsReadableWithoutTheKey) {
    Files f;
    Connection omd{qx::RealEnv()}, keyedOmd{qx::RealEnv()};
    EXPECT_TRUE(omd.open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + f.dir.file("m.omd") + ";"));
    EXPECT_FALSE(keyedOmd.open(Cs(f.dir.file("m.omd"), f.pwd)));
    if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sqlite3 tool installed";
    const struct { std::string file, table; bool readable; } files[] = {
        {"m.dat", "FOLDERS", false}, {"m_1.pdb", "PICTURES", false}, {"m.omd", "OCRWORDS", true}};
    for (const auto& c : files) {
        const std::string cmd = "sqlite3 '" + f.dir.file(c.file) + "' 'SELECT 1 FROM " + c.table + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()) == 0, c.readable) << c.file;
    }
}

TEST(Schema, ExistingFilesAreNeverOverwritten) {
    Files f;  // m.dat is ours: it is not remade either
    bool (*const creators[])(const std::string&, sql::Error&) = {
        [](const std::string& p, sql::Error& e) { return CreateMainDatabase(qx::RealEnv(), p, 6, e); },
        [](const std::string& p, sql::Error& e) { return CreateSubDatabaseFile(qx::RealEnv(), p, PasswordForGeneration(8), e); },
        [](const std::string& p, sql::Error& e) { return CreateOmdDatabase(qx::RealEnv(), p, e); },
    };
    const struct { std::string name, content; bool write; } files[] = {
        {"taken.dat", "not ours", true}, {"empty.dat", "", true}, {"m.dat", Slurp(f.dir.file("m.dat")), false}};
    for (const auto& file : files)
        for (const auto& create : creators) {
            const std::string path = f.dir.file(file.name);
            if (file.write) WriteFile(path, file.content);
            sql::Error err;
            EXPECT_TRUE(!create(path, err) && err) << file.name;
            ASSERT_TRUE(std::filesystem::exists(path)) << file.name;
            EXPECT_EQ(Slurp(path), file.content) << file.name;
        }
    // Failed creations (unknown generation, sub database without its key, missing folder) leave nothing behind.
    sql::Error e1, e2, e3;
    EXPECT_FALSE(CreateMainDatabase(qx::RealEnv(), f.dir.file("g9.dat"), 9, e1) ||
                 CreateSubDatabaseFile(qx::RealEnv(), f.dir.file("m_2.pdb"), "", e2) || CreateOmdDatabase(qx::RealEnv(), f.dir.file("no/a.omd"), e3));
    EXPECT_TRUE(e1 && e2 && e3 && PasswordForGeneration(9).empty() && MainDatabaseTables(3).empty());
    for (const char* name : {"g9.dat", "m_2.pdb", "no"}) EXPECT_FALSE(std::filesystem::exists(f.dir.file(name)));
}

TEST(FileNames, DerivedFromTheMainDatabasePath) {
    struct Case { std::string main, stem; } cases[] = {
        {"/a/Kantoor.dat", "/a/Kantoor"}, {"/a/Kantoor.2008.dat", "/a/Kantoor.2008"}, {"/a/.dat", "/a/"},
        {"/data/v1.2/Kantoor", "/data/v1.2/Kantoor"},  // a "." in a folder name is not an extension
        {"/a/Kantoor.db", "/a/Kantoor"}};              // other extensions are replaced whole, not cut into
    for (const Case& c : cases)
        EXPECT_EQ(SubDatabaseName(c.main, 5) + " " + OmdName(c.main) + " " + LogName(c.main),
                  c.stem + "_5.pdb " + c.stem + ".omd " + c.stem + ".log");
    // An empty path names nothing, rather than a file in the current folder.
    EXPECT_EQ(SubDatabaseName("", 5) + OmdName("") + LogName("") + DeletedName(qx::RealEnv(), "") + ObsoleteName(qx::RealEnv(), ""), "");
    TempDir dir;
    const std::string pdb = dir.file("K_3.pdb");
    WriteFile(pdb + ".deleted", "x");
    EXPECT_EQ(DeletedName(qx::RealEnv(), pdb), pdb + "_001.deleted");
    EXPECT_EQ(ObsoleteName(qx::RealEnv(), pdb), pdb + ".obsolete");
}
