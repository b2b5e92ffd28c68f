#pragma once
// Archives whose sub databases each hold one marker row, so a test can tell
// afterwards which file ended up under which name; and the log as lines.
#include "database/access/FileNames.h"
#include "support/Settings.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/TestUtil.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace qx::test {


inline const std::string kPwd = "\u00a9Pendrawix8", kOldPwd = "\u00a9Pendrawix6", kNotFound = "Resources not found";

// A sub database holding one PICTURES row, `marker`: tells afterwards which file ended up where.
inline void MakeSub(const std::string& path, long marker, const std::string& pwd = kPwd) {
    sql::Error err;
    ASSERT_TRUE(CreateSubDatabaseFile(qx::RealEnv(), path, pwd, err)) << err.message;
    sql::Database db = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(pwd), sql::OpenMode::ReadWrite, err);
    EXPECT_TRUE(db.exec("INSERT INTO PICTURES (ID, PICTURE) VALUES (" + std::to_string(marker) + ", x'00')"));
}

// First column -> second column of every row; empty when the file does not open.
inline std::map<long, std::string> Query(const std::string& path, const std::string& text) {
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(kPwd), sql::OpenMode::ReadWrite, err);
    std::map<long, std::string> out;
    sql::Statement st(db, text);
    while (!err && st.step() == sql::Step::Row) out[static_cast<long>(st.getInt64(0))] = st.getText(1);
    return out;
}

inline long MarkerOf(const std::string& path) {  // -1: no sub database there
    const auto rows = Query(path, "SELECT ID, 0 FROM PICTURES");
    return rows.empty() ? -1 : rows.begin()->first;
}

struct Archive : ArchiveBuilder {
    using ArchiveBuilder::ArchiveBuilder;
    std::string at(long n) const { return SubDatabaseName(main, n); }
    void list(long n, std::string p) { exec("INSERT INTO DATABASES VALUES (" + std::to_string(n) + ",'" + p + "')"); }
    void standardSub(long n) { MakeSub(at(n), 100 + n), list(n, at(n)); }  // standard path, marker 100 + n
    void doc(long id, long n) {
        exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (" + std::to_string(id) +
             ", 1, 0, 'doc', " + std::to_string(n) + ")");
    }
    std::map<long, std::string> databases() const { return Query(main, "SELECT ID, DATABASE FROM DATABASES"); }
    std::string links() const {  // "document:DATABASEID ..."
        return Query(main, "SELECT 0, group_concat(x, ' ') FROM (SELECT ID || ':' || DATABASEID AS x FROM FOLDERS "
                           "WHERE NOT ISFOLDER ORDER BY ID)")[0];
    }
};

// The names in a folder, the log left out (it grows with every run).
inline std::string Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().extension() != ".log") names.insert(e.path().filename().string());
    return std::accumulate(names.begin(), names.end(), std::string(), [](auto s, auto& n) { return s + n + " "; });
}

inline std::vector<std::string> LogLines() { return ReadLines(Settings::Get().LogFileName); }
inline bool Logged(const std::string& line) { return std::ranges::count(LogLines(), line) > 0; }
inline std::string LastLogLine() { return LogLines().empty() ? std::string() : LogLines().back(); }
inline std::string Text(const std::string& path) { return Slurp(path); }


}  // namespace qx::test
