#pragma once
// The archive, window and settings the reorganize tests share.
#include "database/CDatabase.h"
#include "database/access/FileNames.h"
#include "support/Failpoint.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/SysInfo.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <functional>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace qx::test::reorganize {

namespace fs = std::filesystem;

inline std::int64_t g_freeSpace = -1;
inline std::int64_t InjectedFreeSpace(std::string_view) { return g_freeSpace >= 0 ? g_freeSpace : std::int64_t(1) << 50; }

// Every file of the folder but the log, with its bytes.
inline std::map<std::string, std::string> Files(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() != ".log") files[e.path().filename().string()] = Slurp(e.path().string());
    return files;
}

inline std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& [name, bytes] : Files(folder)) names.insert(name);
    return names;
}

// A window whose Cancel is pressed after a number of turns of the event loop,
// and that can run something at every turn (until it says it is done).
class CancellingWindow : public ScriptedWindow {
public:
    int cancelReorganizeAfter = -1;
    std::function<bool()> everyTurn;
    void DoEvents() override {
        ScriptedWindow::DoEvents();
        if (m_reorganize && --cancelReorganizeAfter == 0) m_reorganize = false;
        if (m_reorganize && everyTurn && everyTurn()) everyTurn = nullptr;
    }
};

class Reorganize : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::Reset();
        failpoints::Reset();
        OverrideFolderFreeSpaceForTests(InjectedFreeSpace);
        g_freeSpace = -1;
        a = std::make_unique<ArchiveBuilder>(dir.path());
        Settings::Get().DatabasePassword = a->password;
        Settings::Get().LogFileName = LogFileNameFor(a->main);
    }
    void TearDown() override {
        db.reset();
        OverrideFolderFreeSpaceForTests(nullptr);
        failpoints::Reset();
        Settings::Reset();
    }
    void Open() {
        db = std::make_unique<CDatabase>(window, window.env());
        ASSERT_TRUE(db->OpenDatabase(CDatabase::ConnectString(a->main, a->password)));
        window.state.m_sDatabaseName = a->main;
    }
    std::string Sub(long n) const { return SubDatabaseName(a->main, n); }
    // Sub database n holding documents `ids`, each of `size` bytes of its own.
    void SubWith(long n, std::initializer_list<long> ids, int size) {
        a->sub(n, ids);
        for (long id : ids) Pictures(n, "UPDATE PICTURES SET PICTURE = randomblob(" + std::to_string(size) +
                                            ") WHERE ID = " + std::to_string(id));
    }
    void Pictures(long n, const std::string& text) {
        sql::Error err;
        sql::Database pdb =
            sql::Database::open(qx::RealEnv(), Sub(n), engine::PasswordBytes(a->password), sql::OpenMode::ReadWrite, err);
        ASSERT_TRUE(pdb.exec(text, &err)) << text << ": " << err.message;
    }
    std::map<long, std::string> Main(const std::string& text) const {
        sql::Error err;
        sql::Database m =
            sql::Database::open(qx::RealEnv(), a->main, engine::PasswordBytes(a->password), sql::OpenMode::ReadWrite, err);
        std::map<long, std::string> out;
        sql::Statement st(m, text);
        while (st.step() == sql::Step::Row) out[static_cast<long>(st.getInt64(0))] = st.getText(1);
        return out;
    }
    std::string Log() const { return Slurp(LogFileNameFor(a->main)); }
    // The IDs in PICTURES of a file, in order.
    std::vector<long> RowsIn(const std::string& path) const {
        sql::Error err;
        sql::Database pdb = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(a->password), sql::OpenMode::ReadWrite, err);
        std::vector<long> ids;
        sql::Statement st(pdb, "SELECT ID FROM PICTURES ORDER BY ID");
        while (st.step() == sql::Step::Row) ids.push_back(static_cast<long>(st.getInt64(0)));
        return ids;
    }

    TempDir dir;
    std::unique_ptr<ArchiveBuilder> a;
    CancellingWindow window;
    std::unique_ptr<CDatabase> db;
};

}  // namespace qx::test::reorganize
