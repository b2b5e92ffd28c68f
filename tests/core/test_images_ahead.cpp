// Images decoded ahead of the thorough check's walk: every image the walk
// gets to was handed to the workers, its result is the loader's own, and
// the bytes waiting for the workers stay within their bound.
#include "database/CDatabase.h"
#include "database/checks/ImagesAhead.h"
#include "support/Settings.h"
#include "tests/core/SubDatabaseArchive.h"
#include "tools/sample/SampleContent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using namespace qx;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The documents of a case, written into their sub databases in one
// transaction each: opening an encrypted file costs its key derivation.
void PutAll(const qx::test::Archive& a, const std::map<long, std::pair<long, Bytes>>& bySub) {
    for (long sub : {1L, 2L}) {
        sql::Error err;
        sql::Database db = sql::Database::open(qx::RealEnv(), a.at(sub), engine::PasswordBytes(a.password),
                                               sql::OpenMode::ReadWrite, err);
        ASSERT_TRUE(db.isOpen()) << err.message;
        ASSERT_TRUE(db.exec("BEGIN; DELETE FROM PICTURES WHERE ID >= 10"));
        sql::Statement st(db, "INSERT INTO PICTURES (ID, PICTURE) VALUES (?, ?)");
        for (const auto& [id, where] : bySub) {
            if (where.first != sub) continue;
            st.bind(1, static_cast<std::int64_t>(id));
            st.bindBlob(2, where.second);
            ASSERT_TRUE(st.run()) << st.error().message;
            st.reset();
        }
        ASSERT_TRUE(db.exec("COMMIT"));
    }
}

// How a case lays out its documents: the sub database of the n-th one.
enum class Layout { OneFile, Alternating, RunsOfThree };

long SubOf(Layout layout, long n) {
    switch (layout) {
        case Layout::OneFile: return 1;
        case Layout::Alternating: return 1 + n % 2;
        case Layout::RunsOfThree: return 1 + (n / 3) % 2;
    }
    return 1;
}

}  // namespace

TEST(ImagesAhead, EveryImageIsDecodedAheadWithinTheBound) {
    qx::test::TempDir dir;
    Settings::Reset();
    qx::test::Archive a{dir.path()};
    a.standardSub(1);
    a.standardSub(2);
    // Thirty documents: multi-page TIFFs, every fifth a truncated JPEG, every
    // seventh an imported file, every eleventh without data.
    constexpr long kDocuments = 30;
    std::map<long, Bytes> stored;
    std::size_t largest = 0, typical = 0;
    for (long n = 0; n < kDocuments; ++n) {
        const long id = 10 + n;
        if (n % 11 == 10) continue;
        Bytes data = n % 5 == 4 ? sample::TruncatedJpeg(200, 150, 50, static_cast<std::uint32_t>(id))
                                : sample::MultipageTiff(3, 300, 200, static_cast<std::uint32_t>(id));
        largest = std::max(largest, data.size());
        typical = data.size();
        stored[id] = std::move(data);
    }
    struct Case {
        const char* name;
        Layout layout;
        int workers;
        std::size_t bytesAhead;  // 0: a bound smaller than any document
    } cases[] = {
        {"one file, one worker", Layout::OneFile, 1, ImagesAhead::kBytesAhead},
        {"one file, four workers", Layout::OneFile, 4, ImagesAhead::kBytesAhead},
        {"alternating files, two workers", Layout::Alternating, 2, ImagesAhead::kBytesAhead},
        {"alternating files, eight workers", Layout::Alternating, 8, ImagesAhead::kBytesAhead},
        {"runs of three, three workers", Layout::RunsOfThree, 3, ImagesAhead::kBytesAhead},
        {"bytes for two and a half documents, eight workers", Layout::OneFile, 8, typical * 5 / 2},
        {"bytes for two and a half documents, alternating", Layout::Alternating, 8, typical * 5 / 2},
        {"a bound smaller than one document", Layout::RunsOfThree, 4, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A fresh layout per case: the same documents, in other files.
        std::vector<ImagesAhead::Upcoming> walk;
        std::map<long, std::pair<long, Bytes>> bySub;
        for (long n = 0; n < kDocuments; ++n) {
            const long id = 10 + n, sub = SubOf(c.layout, n);
            walk.push_back({id, sub, n % 7 != 6});
            if (stored.count(id)) bySub[id] = {sub, stored[id]};
        }
        PutAll(a, bySub);
        engine::Connection one(qx::RealEnv()), two(qx::RealEnv());
        ASSERT_TRUE(one.open(CDatabase::ConnectString(a.at(1), a.password)));
        ASSERT_TRUE(two.open(CDatabase::ConnectString(a.at(2), a.password)));
        const std::size_t bound = c.bytesAhead ? c.bytesAhead : 1;
        ImagesAhead ahead(walk, c.workers, bound);
        EXPECT_EQ(ahead.pool.workers(), c.workers);
        int decodedAhead = 0, expectedAhead = 0;
        for (std::size_t i = 0; i < walk.size(); ++i) {
            const ImagesAhead::Upcoming& u = walk[i];
            ahead.position = i;
            ahead.fill(u.databaseId == 1 ? one : two, u.databaseId);
            if (!u.graphical) continue;
            const std::optional<ImageLoad> got = ahead.take(u.id, [] { return true; });
            const bool hasData = stored.count(u.id) > 0;
            expectedAhead += hasData;
            EXPECT_EQ(got.has_value(), hasData) << "document " << u.id;
            if (!got || !hasData) continue;
            ++decodedAhead;
            const ImageLoad alone = LoadDocumentImage(stored[u.id]);
            EXPECT_EQ(std::tie(got->status, got->pages, got->why), std::tie(alone.status, alone.pages, alone.why))
                << "document " << u.id;
        }
        EXPECT_EQ(decodedAhead, expectedAhead);
        // Within the usual bound only the first image of each file is read
        // when the walk gets there, however the files alternate.
        if (c.bytesAhead == ImagesAhead::kBytesAhead)
            EXPECT_GE(ahead.readAhead() + 2, static_cast<std::size_t>(expectedAhead));
        // A document larger than the bound goes alone.
        EXPECT_LE(ahead.peakBytesHeld(), std::max(bound, largest));
        EXPECT_EQ(ahead.pool.bytesHeld(), 0u);
    }
    Settings::Reset();
}

TEST(DecodeWorkers, ControlGroupQuotaGivesWholeCores) {
    const struct {
        const char* cpuMax;
        std::optional<int> cores;
    } v2[] = {
        {"max 100000", std::nullopt},
        {"200000 100000", 2},
        {"150000 100000", 2},  // one and a half cores keep two workers busy part of the time
        {"50000 100000", 1},
        {"100000", std::nullopt},
        {"", std::nullopt},
        {"abc 100000", std::nullopt},
        {"200000 0", std::nullopt},
        {"-1 100000", std::nullopt},
    };
    for (const auto& c : v2) EXPECT_EQ(CoresOfCpuMax(c.cpuMax), c.cores) << '"' << c.cpuMax << '"';
    const struct {
        long long quota, period;
        std::optional<int> cores;
    } v1[] = {{-1, 100000, std::nullopt}, {400000, 100000, 4}, {1, 100000, 1}, {100000, 0, std::nullopt}};
    for (const auto& c : v1) EXPECT_EQ(CoresOfCfsQuota(c.quota, c.period), c.cores) << c.quota << "/" << c.period;
}

TEST(DecodeWorkers, TheEnvironmentOverridesOnlyWithAUsableNumber) {
    const int cores = AvailableCores();
    EXPECT_GE(cores, 1);
    const struct {
        const char* value;  // nullptr: not set
        int workers;
    } cases[] = {
        {nullptr, cores}, {"4", 4}, {"1", 1}, {"256", 256}, {"0", cores}, {"257", cores}, {"3x", cores}, {"", cores},
        {"-2", cores},
    };
    for (const auto& c : cases) {
        if (c.value) setenv("QUILLEX_DECODE_WORKERS", c.value, 1);
        else unsetenv("QUILLEX_DECODE_WORKERS");
        EXPECT_EQ(DecodeWorkers(), c.workers) << (c.value ? c.value : "(not set)");
    }
    unsetenv("QUILLEX_DECODE_WORKERS");
}
