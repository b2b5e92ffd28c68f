// The engine's file layer of an Env: the engine's changes to its files reach
// the Env before they happen, and a refusal by the Env reaches the caller as
// the error of the system call it stands for.
#include "support/Env.h"
#include "support/engine/Sql.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

namespace qx {
namespace {

// Records what the engine reports and refuses one kind of change.
class RecordingEnv : public EnvWrapper {
public:
    explicit RecordingEnv(Env& base) : EnvWrapper(base) {}
    std::vector<std::string> seen;
    std::string refuse;  // "write", "truncate", "sync", "delete"
    int refuseWith = 0;

    int EngineWrite(const std::string& p, std::int64_t, std::int64_t) override { return Note("write", p); }
    int EngineTruncate(const std::string& p, std::int64_t) override { return Note("truncate", p); }
    int EngineSync(const std::string& p) override { return Note("sync", p); }
    void EngineSynced(const std::string& p) override { Note("synced", p); }
    void EngineCreated(const std::string& p) override { Note("created", p); }
    int EngineDelete(const std::string& p, bool) override { return Note("delete", p); }

private:
    int Note(const std::string& what, const std::string& path) {
        seen.push_back(what + " " + path.substr(path.find_last_of('/') + 1));
        return what == refuse ? refuseWith : 0;
    }
};

bool Saw(const std::vector<std::string>& seen, const std::string& event) {
    return std::find(seen.begin(), seen.end(), event) != seen.end();
}

TEST(EngineFileLayer, ReportsEveryChangeOfACommit) {
    test::TempDir dir;
    RecordingEnv env(RealEnv());
    sql::Error err;
    sql::Database db = sql::Database::open(env, dir.file("a.db"), "", sql::OpenMode::Create, err);
    ASSERT_TRUE(db.isOpen()) << err.message;
    ASSERT_TRUE(db.exec("CREATE TABLE t(x); INSERT INTO t VALUES(1)", &err)) << err.message;
    for (const char* event : {"created a.db", "write a.db", "sync a.db", "synced a.db"})
        EXPECT_TRUE(Saw(env.seen, event)) << event;
    env.seen.clear();
    ASSERT_TRUE(db.exec("INSERT INTO t VALUES(2)", &err)) << err.message;
    // A rollback journal is made, synced before the file changes, deleted.
    for (const char* event : {"created a.db-journal", "sync a.db-journal", "write a.db", "delete a.db-journal"})
        EXPECT_TRUE(Saw(env.seen, event)) << event;
    EXPECT_LT(std::find(env.seen.begin(), env.seen.end(), "synced a.db-journal") - env.seen.begin(),
              std::find(env.seen.begin(), env.seen.end(), "write a.db") - env.seen.begin());
}

TEST(EngineFileLayer, ARefusalIsTheErrorOfItsSystemCall) {
    struct Case {
        const char* refuse;
        int err;
        const char* words;  // what the caller is told
    } cases[] = {
        {"write", ENOSPC, "database or disk is full"},
        {"write", EIO, "disk I/O error"},
        {"sync", EIO, "disk I/O error"},
        {"sync", ENOSPC, "database or disk is full"},
        {"delete", EIO, "disk I/O error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.refuse) + " " + ErrorText(c.err));
        test::TempDir dir;
        RecordingEnv env(RealEnv());
        sql::Error err;
        sql::Database db = sql::Database::open(env, dir.file("a.db"), "", sql::OpenMode::Create, err);
        ASSERT_TRUE(db.isOpen()) << err.message;
        ASSERT_TRUE(db.exec("CREATE TABLE t(x)", &err)) << err.message;
        env.refuse = c.refuse;
        env.refuseWith = c.err;
        EXPECT_FALSE(db.exec("INSERT INTO t VALUES(1)", &err));
        EXPECT_NE(err.message.find(c.words), std::string::npos) << err.message;
    }
}

}  // namespace
}  // namespace qx
