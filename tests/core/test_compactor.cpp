// The compacting engine on its own: what a copy keeps of plain and keyed
// files (large values included), leaving a table's rows out, what a failed
// copy leaves (nothing), its state while it runs and after, a second start
// refused while a copy runs (from one thread and from two at once), its
// files handled through the Env it is given, and the string library's
// entries that wrap it.
#include "support/Env.h"
#include "support/Log.h"
#include "support/TextResources.h"
#include "support/engine/Compactor.h"
#include "support/engine/Sql.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <QLibrary>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

using namespace qx;
using namespace qx::test;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPassword = "geheim wachtwoord";

void Exec(sql::Database& db, const std::string& text) {
    sql::Error err;
    ASSERT_TRUE(db.exec(text, &err)) << text << ": " << err.message;
}

// A file with every kind of object the copy must carry: an AUTOINCREMENT
// table, an index, a view, a trigger, user_version; `valueBytes` per
// document, a third of the documents deleted.
void MakeSource(const std::string& path, std::string_view password, std::int64_t valueBytes) {
    sql::Error err;
    sql::Database db = sql::Database::open(RealEnv(), path, password, sql::OpenMode::Create, err);
    ASSERT_TRUE(db.isOpen()) << err.message;
    Exec(db,
         "CREATE TABLE PICTURES (ID INTEGER, PICTURE BLOB);"
         "CREATE INDEX PictureId ON PICTURES (ID);"
         "CREATE TABLE LOG (N INTEGER PRIMARY KEY AUTOINCREMENT, WHAT TEXT);"
         "CREATE VIEW Counted AS SELECT count(*) FROM PICTURES;"
         "CREATE TRIGGER Logged AFTER INSERT ON PICTURES BEGIN INSERT INTO LOG (WHAT) VALUES ('added'); END;"
         "PRAGMA user_version = 7;"
         "BEGIN;");
    for (int id = 1; id <= 6; ++id)
        Exec(db, "INSERT INTO PICTURES VALUES (" + std::to_string(id) + ", randomblob(" +
                     std::to_string(valueBytes) + "))");
    Exec(db, "DELETE FROM PICTURES WHERE ID % 3 = 0; COMMIT;");
}

// Every object as stored, user_version, and every row with a hash of each value.
std::vector<std::string> Contents(const std::string& path, std::string_view password) {
    std::vector<std::string> out;
    sql::Error err;
    sql::Database db = sql::Database::open(RealEnv(), path, password, sql::OpenMode::ReadOnly, err);
    if (!db.isOpen()) return {"cannot open: " + err.message};
    sql::Statement version(db, "PRAGMA user_version");
    if (version.step() == sql::Step::Row) out.push_back("user_version " + version.getText(0));
    std::vector<std::string> tables;
    sql::Statement schema(db, "SELECT type, name, sql FROM sqlite_master ORDER BY name");
    while (schema.step() == sql::Step::Row) {
        out.push_back(schema.getText(0) + " " + schema.getText(1) + " " + schema.getText(2));
        if (schema.getText(0) == "table") tables.push_back(schema.getText(1));
    }
    for (const std::string& table : tables) {
        sql::Statement rows(db, "SELECT rowid, * FROM " + sql::QuoteIdentifier(table) + " ORDER BY rowid");
        while (rows.step() == sql::Step::Row) {
            std::string row = table;
            for (int c = 0; c < rows.columnCount(); ++c) {
                const auto bytes = rows.getBlob(c);
                row += " " + std::to_string(std::hash<std::string>{}(std::string(bytes.begin(), bytes.end())));
            }
            out.push_back(row);
        }
    }
    return out;
}

struct Lines {
    std::mutex lock;
    std::vector<std::string> lines;
    sql::Compactor::LogSink sink() {
        return [this](const std::string& line) {
            std::lock_guard guard(lock);
            lines.push_back(line);
        };
    }
    std::string all() {
        std::lock_guard guard(lock);
        std::string out;
        for (const std::string& l : lines) out += l + "\n";
        return out;
    }
};

// Holds the file's exclusive lock: a copy of it cannot read it, so cannot
// end, until the holder goes.
class Holding {
public:
    Holding(const std::string& path, std::string_view password) {
        sql::Error err;
        m_db = sql::Database::open(RealEnv(), path, password, sql::OpenMode::ReadWrite, err);
        m_held = m_db.exec("BEGIN EXCLUSIVE; UPDATE PICTURES SET ID = ID;");
    }
    bool held() const { return m_held; }
    void release() { m_db.exec("COMMIT;"); }

private:
    sql::Database m_db;
    bool m_held = false;
};

class Compactor : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedTimeout = sql::BusyTimeout();
        sql::SetBusyTimeout(30'000);
    }
    void TearDown() override { sql::SetBusyTimeout(m_savedTimeout); }
    TempDir dir;
    int m_savedTimeout = 0;
};

}  // namespace

TEST_F(Compactor, CopiesKeepEverythingButWhatTheyLeaveOutAndAFailedCopyLeavesNothing) {
    const std::int64_t large = 3 * 1024 * 1024 + 17;  // streamed in pieces
    struct Case {
        const char* name;
        std::string password;     // of the source and the copy
        std::int64_t valueBytes;  // of each document
        std::string leaveOut;     // "-": the emptying start without a table
        std::function<void(const std::string& source)> spoil;
        std::int32_t state;
        // What stands under the copy's name at the start; nullptr: an empty file.
        std::function<void(const std::string& copy)> copyFile = nullptr;
    } cases[] = {
        {"plain", "", 1000, "", nullptr, sql::Compactor::kDone},
        {"keyed", kPassword, 1000, "", nullptr, sql::Compactor::kDone},
        {"plain_large_values", "", large, "", nullptr, sql::Compactor::kDone},
        {"keyed_large_values", kPassword, large, "", nullptr, sql::Compactor::kDone},
        {"emptying", kPassword, large, "pictures", nullptr, sql::Compactor::kDone},
        {"emptying_without_a_table", kPassword, 1000, "-", nullptr, sql::Compactor::kBadArguments},
        {"wrong_password", kPassword, 1000, "",
         [](const std::string& source) {
             sql::Error err;
             sql::Database db = sql::Database::open(RealEnv(), source, kPassword, sql::OpenMode::ReadWrite, err);
             ASSERT_TRUE(db.exec("PRAGMA rekey = 'anders';", &err)) << err.message;
         },
         sql::Compactor::kFailedOpen},
        {"not_a_database", "", 1000, "", [](const std::string& source) { WriteFile(source, std::string(5000, 'x')); },
         sql::Compactor::kFailedOpen},
        {"missing_source", "", 1000, "", [](const std::string& source) { fs::remove(source); },
         sql::Compactor::kFailedOpen},
        {"no_file_under_the_copy_name_yet", kPassword, 1000, "", nullptr, sql::Compactor::kDone,
         [](const std::string& copy) { fs::remove(copy); }},
        // Not ours: neither filled nor removed.
        {"a_file_with_contents_under_the_copy_name", "", 1000, "", nullptr, sql::Compactor::kBadArguments,
         [](const std::string& copy) { WriteFile(copy, "iemand anders"); }},
        {"a_link_under_the_copy_name", "", 1000, "", nullptr, sql::Compactor::kBadArguments,
         [](const std::string& copy) {
             WriteFile(copy + ".target", "");
             fs::remove(copy);
             fs::create_symlink(copy + ".target", copy);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string source = dir.file(std::string(c.name) + ".pdb"), copy = source + ".compacted";
        MakeSource(source, c.password, c.valueBytes);
        const std::vector<std::string> before = Contents(source, c.password);
        if (c.spoil) c.spoil(source);
        WriteFile(copy, "");  // the program makes the copy's file first
        if (c.copyFile) c.copyFile(copy);
        const std::string copyBefore = Slurp(copy);
        const bool copyWasThere = fs::symlink_status(copy).type() != fs::file_type::not_found;
        Lines log;
        sql::Compactor engine(RealEnv(), log.sink());
        const bool started = c.leaveOut.empty() ? engine.Start(source, copy, c.password)
                                                : engine.StartEmptying(source, copy, c.password,
                                                                       c.leaveOut == "-" ? "" : c.leaveOut);
        EXPECT_EQ(engine.Wait(), c.state) << log.all();
        EXPECT_EQ(engine.State(), c.state);
        if (c.state == sql::Compactor::kBadArguments) {
            EXPECT_EQ(fs::symlink_status(copy).type() != fs::file_type::not_found, copyWasThere);
            EXPECT_EQ(Slurp(copy), copyBefore) << "what stood under the copy's name is left alone";
            if (fs::exists(copy + ".target")) {
                EXPECT_EQ(Slurp(copy + ".target"), "");
            }
            continue;
        }
        if (c.state != sql::Compactor::kDone) {
            EXPECT_FALSE(fs::exists(copy)) << "a failed copy is removed";
            if (started) {
                EXPECT_NE(log.all().find("failed (" + std::to_string(c.state) + ")"), std::string::npos);
            }
            continue;
        }
        EXPECT_NE(log.all().find("Compact engine: " + source + " copied to " + copy), std::string::npos) << log.all();
        std::vector<std::string> expected = before;
        if (!c.leaveOut.empty())
            std::erase_if(expected, [](const std::string& line) { return line.rfind("PICTURES ", 0) == 0; });
        EXPECT_EQ(Contents(copy, c.password), expected);
        if (c.valueBytes > large / 2) {
            EXPECT_LT(fs::file_size(copy), fs::file_size(source)) << "deleted documents take no room in the copy";
        }
    }
}

// While a copy cannot end, its state is "running" and a second start, of
// either kind, changes nothing; once it has ended, the state is its result.
TEST_F(Compactor, StateWhileRunningAndAfterAndAStartWhileRunningIsRefused) {
    const std::string source = dir.file("Bezig.pdb"), copy = source + ".compacted";
    MakeSource(source, kPassword, 1000);
    Lines log;
    sql::Compactor engine(RealEnv(), log.sink());
    EXPECT_EQ(engine.State(), sql::Compactor::kDone) << "nothing ran yet";
    Holding holder(source, kPassword);
    ASSERT_TRUE(holder.held());
    ASSERT_TRUE(engine.Start(source, copy, kPassword));
    EXPECT_EQ(engine.State(), sql::Compactor::kRunning);
    EXPECT_FALSE(engine.Start(dir.file("Ander.pdb"), dir.file("Ander.pdb.compacted"), kPassword));
    EXPECT_FALSE(engine.StartEmptying(dir.file("Ander.pdb"), dir.file("Ander.pdb.compacted"), kPassword, ""));
    EXPECT_EQ(engine.State(), sql::Compactor::kRunning) << "a refused start leaves the running copy's state";
    EXPECT_NE(log.all().find("a copy is still running; " + dir.file("Ander.pdb") + " is not copied"),
              std::string::npos);
    holder.release();
    EXPECT_EQ(engine.Wait(), sql::Compactor::kDone) << log.all();
    EXPECT_FALSE(fs::exists(dir.file("Ander.pdb.compacted")));
    // The next copy may start now.
    fs::remove(copy);
    EXPECT_TRUE(engine.Start(source, copy, kPassword));
    EXPECT_EQ(engine.Wait(), sql::Compactor::kDone);
}

// Two threads starting at once while the state is read: exactly one copy
// starts. Meant for the thread sanitizer build too (tools/sanitize.sh).
TEST_F(Compactor, TwoThreadsStartingAtOnceStartOneCopy) {
    const std::string source = dir.file("Samen.pdb");
    MakeSource(source, "", 1000);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        sql::Compactor engine(RealEnv());
        Holding holder(source, "");
        ASSERT_TRUE(holder.held());
        std::atomic<int> ready{0}, started{0};
        std::atomic<bool> sawRunning{false};
        auto starter = [&](int n) {
            ++ready;
            while (ready < 2) std::this_thread::yield();
            const std::string copy = source + "." + std::to_string(n) + ".compacted";
            if (n == 0 ? engine.Start(source, copy, "") : engine.StartEmptying(source, copy, "", "PICTURES"))
                ++started;
            sawRunning = sawRunning || engine.State() == sql::Compactor::kRunning;
        };
        std::thread a(starter, 0), b(starter, 1);
        a.join();
        b.join();
        EXPECT_EQ(started.load(), 1);
        EXPECT_TRUE(sawRunning.load());
        holder.release();
        EXPECT_EQ(engine.Wait(), sql::Compactor::kDone);
        fs::remove(source + ".0.compacted");
        fs::remove(source + ".1.compacted");
    }
}

// The string library's entries do what the engine does, and log as the
// program logs: Windows-1252, never through a link.
TEST_F(Compactor, TheStringLibraryEntriesWrapTheEngineAndLogAsTheProgramDoes) {
    QLibrary library(QString::fromStdString(StringLibraryPath()));
    ASSERT_TRUE(library.load()) << library.errorString().toStdString();
    using Text1 = void (*)(const char*);
    using Text3 = void (*)(const char*, const char*, const char*);
    using Text4 = void (*)(const char*, const char*, const char*, const char*);
    using State = std::int32_t (*)();
    using None = void (*)();
    const auto enableLog = reinterpret_cast<Text1>(library.resolve("EnableLog"));
    const auto compact = reinterpret_cast<Text3>(library.resolve("Compact"));
    const auto compactEmptying = reinterpret_cast<Text4>(library.resolve("CompactEmptying"));
    const auto threadState = reinterpret_cast<State>(library.resolve("GetThreadState"));
    const auto disableLog = reinterpret_cast<None>(library.resolve("DisableLog"));
    ASSERT_TRUE(enableLog && compact && compactEmptying && threadState && disableLog);
    auto wait = [&] {
        std::int32_t state;
        while ((state = threadState()) == -1) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return state;
    };

    const std::string source = dir.file("Café.pdb"), copy = source + ".compacted", log = dir.file("Café.log");
    MakeSource(source, kPassword, 1000);
    enableLog(log.c_str());
    compact(source.c_str(), copy.c_str(), kPassword);
    EXPECT_EQ(wait(), 0);
    EXPECT_EQ(Contents(copy, kPassword), Contents(source, kPassword));
    const std::string written = Slurp(log);
    EXPECT_NE(written.find("Compact engine: " + Utf8ToCp1252(source) + " copied to"), std::string::npos) << written;
    EXPECT_EQ(written.find("Café"), std::string::npos) << "the log is Windows-1252, not UTF-8";

    // A log that has become a link is not written through.
    const std::string elsewhere = dir.file("elders.txt");
    WriteFile(elsewhere, "");
    fs::remove(log);
    fs::create_symlink(elsewhere, log);
    compactEmptying(source.c_str(), (copy + "2").c_str(), kPassword, nullptr);
    EXPECT_EQ(wait(), 6) << "no table to leave out";
    fs::remove(copy);
    compactEmptying(source.c_str(), copy.c_str(), kPassword, "PICTURES");
    EXPECT_EQ(wait(), 0);
    EXPECT_EQ(Slurp(elsewhere), "");
    disableLog();
}

// The copy's own file operations go through the Env it is given: a full
// disk there is named as such, and a copy that fails is removed through it.
TEST_F(Compactor, TheCopysFilesGoThroughItsEnv) {
    struct Watching : EnvWrapper {
        using EnvWrapper::EnvWrapper;
        int refuseCreate = 0;
        std::vector<std::string> created, removed;
        int WriteNewEntry(const std::string& path, std::string_view bytes) override {
            created.push_back(path);
            return refuseCreate ? refuseCreate : EnvWrapper::WriteNewEntry(path, bytes);
        }
        int RemoveEntry(const std::string& path) override {
            removed.push_back(path);
            return EnvWrapper::RemoveEntry(path);
        }
    };
    const std::string source = dir.file("Via.pdb"), copy = source + ".compacted";
    MakeSource(source, kPassword, 1000);
    {
        Watching env(RealEnv());
        env.refuseCreate = ENOSPC;
        Lines log;
        sql::Compactor engine(env, log.sink());
        ASSERT_TRUE(engine.Start(source, copy, kPassword));
        EXPECT_EQ(engine.Wait(), sql::Compactor::kFailedOpen);
        EXPECT_EQ(env.created, std::vector<std::string>{copy});
        EXPECT_NE(log.all().find(ErrorText(ENOSPC)), std::string::npos) << log.all();
        EXPECT_TRUE(env.removed.empty()) << "nothing was made, nothing is removed";
        EXPECT_FALSE(fs::exists(copy));
    }
    {
        Watching env(RealEnv());
        sql::Compactor engine(env);
        ASSERT_TRUE(engine.Start(source, copy, "niet het wachtwoord"));
        EXPECT_EQ(engine.Wait(), sql::Compactor::kFailedOpen);
        EXPECT_EQ(env.created, std::vector<std::string>{copy});
        EXPECT_EQ(env.removed, std::vector<std::string>{copy});
        EXPECT_FALSE(fs::exists(copy));
    }
}
