// The progress record of a thorough check: what it keeps survives a round
// trip through its text whatever the names hold, a torn, altered or foreign
// record is refused, and the store keeps the last whole state under one of
// its two names without ever renaming over one.
#include "database/checks/CheckProgressRecord.h"
#include "database/checks/CheckResume.h"
#include "support/Env.h"
#include "support/Failpoint.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

using namespace qx;
using qx::test::TempDir;

namespace {

CheckProgressRecord Full() {
    CheckProgressRecord r;
    r.sequence = 7;
    r.flags = 319;
    r.main = {2049, 1234567};
    r.subDatabases = {{"/a/Archief_1.pdb", {2049, 11}}, {"/a/tab\there%25.pdb", {2049, 12}}};
    r.total = 1200;
    r.checked = 345;
    r.passes = {"compaction", "integrity"};
    r.position = std::string("\x00\x80\xff\n\t%", 6);
    r.changedRows = {-5, 0, 9223372036854775807LL};
    Finding f{42, 4, "/a/Archief_2.pdb", "na\nme\r", "\\map\t1\\", true, false, "Gerepareerd"};
    ListRow row;
    row.key = "ID42";
    row.text = "naam 100%";
    row.subItems = {"\\map\\", "Archief_2.pdb", "Gerepareerd"};
    row.tag = 4;
    row.red = true;
    r.findings = {{f, row}, {Finding{0, 2048, "", "", "", false, false, "Beschadigd"}, ListRow{}}};
    r.inUse = {"/a/Archief_3.pdb"};
    r.backupMask = "/a/Archief20261207##.bak";
    r.backupFiles = {"/a/Archief2026120722150.bak"};
    return r;
}

}  // namespace

TEST(CheckProgressRecord, RoundTripsWhateverTheTextsHold) {
    const struct {
        const char* name;
        CheckProgressRecord record;
    } cases[] = {
        {"empty", CheckProgressRecord()},
        {"everything, with escapes and binary key bytes", Full()},
    };
    for (const auto& c : cases) {
        std::string why;
        const auto back = CheckProgressRecord::Parse(c.record.serialize(), why);
        ASSERT_TRUE(back) << c.name << ": " << why;
        EXPECT_EQ(*back, c.record) << c.name;
    }
}

TEST(CheckProgressRecord, RefusesTornAlteredOrForeignText) {
    const std::string whole = Full().serialize();
    std::string altered = whole;
    altered[altered.find("checked\t345") + 8] = '9';
    std::string reheaded = whole;
    reheaded.replace(0, reheaded.find('\n'), "quillex-intent\t1");
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty file", ""},
        {"cut before the checksum", whole.substr(0, whole.rfind("checksum"))},
        {"cut inside the checksum", whole.substr(0, whole.size() - 5)},
        {"cut in the middle", whole.substr(0, whole.size() / 2)},
        {"one digit changed", altered},
        {"another record's header", reheaded},
        {"an intent record", "quillex-intent\t1\noperation\tx\nmarker\tnone\nchecksum\t0\n"},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_FALSE(CheckProgressRecord::Parse(c.text, why)) << c.name;
        EXPECT_FALSE(why.empty()) << c.name;
    }
}

TEST(CheckProgressStore, KeepsTheLastWholeStateUnderOneName) {
    TempDir dir;
    const std::string main = dir.file("Archief.dat");
    const auto names = CheckProgressNames(main);
    EXPECT_EQ(names[0], dir.file("Archief.check-1"));
    EXPECT_EQ(names[1], dir.file("Archief.check-2"));

    CheckProgressStore store(RealEnv(), main);
    std::string why;
    EXPECT_FALSE(store.Load(why));
    EXPECT_TRUE(why.empty()) << "nothing there is no refusal";

    CheckProgressRecord r = Full();
    for (long checked : {10L, 20L, 30L}) {
        r.checked = checked;
        ASSERT_EQ(store.Write(r), 0);
        EXPECT_EQ(std::filesystem::exists(names[0]) + std::filesystem::exists(names[1]), 1) << checked;
    }
    CheckProgressStore reader(RealEnv(), main);
    const auto back = reader.Load(why);
    ASSERT_TRUE(back) << why;
    EXPECT_EQ(back->checked, 30);

    // A crash between the new state and the removal of the old leaves both:
    // the higher sequence wins, and the next write replaces the older.
    const std::string live = std::filesystem::exists(names[0]) ? names[0] : names[1];
    const std::string other = live == names[0] ? names[1] : names[0];
    CheckProgressRecord older = *back;
    older.sequence = back->sequence - 1;
    older.checked = 5;
    qx::test::WriteFile(other, older.serialize());
    CheckProgressStore again(RealEnv(), main);
    auto loaded = again.Load(why);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->checked, 30);
    loaded->checked = 40;
    ASSERT_EQ(again.Write(*loaded), 0);
    CheckProgressStore last(RealEnv(), main);
    EXPECT_EQ(last.Load(why)->checked, 40);
    EXPECT_EQ(last.RemoveAll(), 0);
    EXPECT_FALSE(last.Present());
}

TEST(CheckProgressStore, TrustsOnlyWholeRecords) {
    const struct {
        const char* name;
        bool tornNewer;   // a newer but torn record beside the whole one
        bool onlyTorn;    // nothing whole at all
    } cases[] = {
        {"a torn newer state: the whole older one is used", true, false},
        {"only a torn state: refused with a reason", false, true},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string main = dir.file("Archief.dat");
        const auto names = CheckProgressNames(main);
        CheckProgressRecord r = Full();
        r.sequence = 3;
        const std::string whole = r.serialize();
        r.sequence = 4;
        const std::string newer = r.serialize();
        if (c.tornNewer) {
            qx::test::WriteFile(names[0], whole);
            qx::test::WriteFile(names[1], newer.substr(0, newer.size() - 9));
        }
        if (c.onlyTorn) qx::test::WriteFile(names[1], whole.substr(0, 40));
        CheckProgressStore store(RealEnv(), main);
        std::string why;
        const auto loaded = store.Load(why);
        EXPECT_EQ(bool(loaded), c.tornNewer) << c.name;
        EXPECT_EQ(why.empty(), c.tornNewer) << c.name << ": " << why;
        if (!loaded) continue;
        EXPECT_EQ(loaded->sequence, 3u) << c.name;
        // The torn file's name is the one written next; the whole one stays
        // until the new state is durable.
        CheckProgressRecord next = *loaded;
        ASSERT_EQ(store.Write(next), 0) << c.name;
        EXPECT_FALSE(std::filesystem::exists(names[0])) << c.name;
        CheckProgressStore reader(RealEnv(), main);
        EXPECT_EQ(reader.Load(why)->sequence, 4u) << c.name;
    }
}

TEST(CheckProgressStore, AFailedWriteKeepsTheStateBefore) {
    TempDir dir;
    const std::string main = dir.file("Archief.dat");
    auto faulty = NewFaultInjectionEnv(RealEnv());
    CheckProgressStore store(*faulty, main);
    CheckProgressRecord r = Full();
    r.checked = 1;
    ASSERT_EQ(store.Write(r), 0);
    failpoints::Reset();
    failpoints::Arm("check-progress.write", 1, FailAction::NoSpace);
    r.checked = 2;
    EXPECT_EQ(store.Write(r), ENOSPC);
    failpoints::Reset();
    CheckProgressStore reader(RealEnv(), main);
    std::string why;
    const auto loaded = reader.Load(why);
    ASSERT_TRUE(loaded) << why;
    EXPECT_EQ(loaded->checked, 1);
}

TEST(CheckDuration, AcceptsHoursMinutesSecondsOnly) {
    const struct {
        const char* text;
        std::optional<std::int64_t> ms;
    } cases[] = {
        {"90m", 90 * 60'000}, {"2h", 2 * 3'600'000}, {"45s", 45'000}, {"1h30m", 90 * 60'000},
        {"", std::nullopt},   {"90", std::nullopt},  {"m", std::nullopt}, {"0s", std::nullopt},
        {"-5m", std::nullopt}, {"5 m", std::nullopt}, {"5d", std::nullopt}, {"1.5h", std::nullopt},
        {"99999999999h", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseDuration(c.text), c.ms) << c.text;
}
