// The reorganize plan: what a run would do, told before it runs, against
// what the run then does; the page model it counts with; and that telling
// changes nothing.
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/CliRunner.h"
#include "tests/core/ReorganizeFixture.h"
#include "tools/sample/SampleArchive.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

#include <algorithm>

using namespace qx;
using namespace qx::test;
using namespace qx::test::reorganize;

namespace {

std::map<long, std::int64_t> RowsOf(const std::string& path, const std::string& password) {
    std::map<long, std::int64_t> rows;
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(password), sql::OpenMode::ReadOnly, err);
    sql::Statement st(db, "SELECT ID, length(PICTURE) FROM PICTURES");
    while (st.step() == sql::Step::Row) rows[static_cast<long>(st.getInt64(0))] = st.isNull(1) ? 0 : st.getInt64(1);
    return rows;
}

std::int64_t PageCount(const std::string& path, const std::string& password, std::string* cipher = nullptr) {
    sql::Error err;
    sql::Database db = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(password), sql::OpenMode::ReadOnly, err);
    sql::Statement st(db, "PRAGMA page_count");
    if (cipher) {
        sql::Statement v(db, "PRAGMA cipher_version");
        if (v.step() == sql::Step::Row) *cipher = v.getText(0);
    }
    return st.step() == sql::Step::Row ? st.getInt64(0) : -1;
}

// Bytes, permissions and modification time of every file of the folder, the log included.
std::map<std::string, std::string> Everything(const std::string& folder) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) {
        struct stat st {};
        ::stat(e.path().c_str(), &st);
        out[e.path().filename().string()] = Slurp(e.path().string()) + "|mode " + std::to_string(st.st_mode) +
                                            "|mtime " + std::to_string(st.st_mtim.tv_sec) + "." +
                                            std::to_string(st.st_mtim.tv_nsec);
    }
    return out;
}

}  // namespace

class ReorganizePlanTest : public Reorganize {
public:
    using Reorganize::a;
    using Reorganize::Pictures;
    using Reorganize::Sub;
    using Reorganize::SubWith;
    // `count` rows from `first` on, each of `size` bytes (0: empty), in sub database n.
    void Many(long n, long first, long count, int size) {
        a->sub(n, {});
        const std::string value = size == 0 ? "x''" : "randomblob(" + std::to_string(size) + ")";
        a->exec("WITH RECURSIVE k(i) AS (SELECT " + std::to_string(first) + " UNION ALL SELECT i + 1 FROM k WHERE i < " +
                std::to_string(first + count - 1) + ") INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) "
                "SELECT i, 1, 0, 'doc' || i, " + std::to_string(n) + " FROM k");
        Pictures(n, "WITH RECURSIVE k(i) AS (SELECT " + std::to_string(first) + " UNION ALL SELECT i + 1 FROM k WHERE i < " +
                        std::to_string(first + count - 1) + ") INSERT INTO PICTURES (ID, PICTURE) SELECT i, " + value +
                        " FROM k");
    }
};

// The page model against files the engine compacted: rows of every kind of
// size, from cells many to a leaf to values spread over many pages.
struct PageCase {
    const char* name;
    std::vector<std::pair<long, int>> runs;  // rows, bytes each
};

void PrintTo(const PageCase& c, std::ostream* os) { *os << c.name; }

class ReorganizePageModel : public ReorganizePlanTest, public ::testing::WithParamInterface<PageCase> {};

TEST_P(ReorganizePageModel, ACompactedFileHasThePagesTheModelCounts) {
    const PageCase& c = GetParam();
    long first = 2;
    long n = 1;
    for (const auto& [rows, size] : c.runs) {
        if (n == 1) Many(1, first, rows, size);
        else Pictures(1, "WITH RECURSIVE k(i) AS (SELECT " + std::to_string(first) +
                             " UNION ALL SELECT i + 1 FROM k WHERE i < " + std::to_string(first + rows - 1) +
                             ") INSERT INTO PICTURES (ID, PICTURE) SELECT i, randomblob(" + std::to_string(size) +
                             ") FROM k");
        first += rows;
        ++n;
    }
    if (c.runs.empty()) a->sub(1, {});
    Open();
    ASSERT_TRUE(db->CompactSingle(Sub(1), a->password));
    std::string cipher;
    const std::int64_t pages = PageCount(Sub(1), a->password, &cipher);
    std::vector<std::pair<long, std::int64_t>> rows;
    for (const auto& [id, length] : RowsOf(Sub(1), a->password)) rows.emplace_back(id, length);

    const std::int64_t model = plan::CompactedPages(rows, 16384, plan::kCipherReservedBytes);

    RecordProperty("pages_off", static_cast<int>(model - pages));
    EXPECT_NEAR(static_cast<double>(model), static_cast<double>(pages), 1.0) << c.name << " (cipher " << cipher << ")";
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ReorganizePageModel,
    ::testing::Values(PageCase{"empty_table", {}}, PageCase{"many_small_rows", {{600, 100}}},
                      PageCase{"rows_of_a_few_kilobytes", {{60, 3000}}},
                      PageCase{"just_over_one_page", {{20, 16400}}},
                      PageCase{"one_overflow_page_each", {{15, 20000}}},
                      PageCase{"values_of_a_megabyte", {{4, 1'000'000}}},
                      PageCase{"mixed", {{50, 700}, {10, 40000}, {100, 50}, {5, 300000}}},
                      PageCase{"empty_values", {{200, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

// The plan against the run itself on the same archive: the same moves (from,
// to, documents, bytes), the same files retired, the same duplicates and
// unreferenced rows, the sizes afterwards within the stated pages.
struct PlanCase {
    const char* name;
    void (*build)(ReorganizePlanTest&);
    std::int64_t capacity = 671'088'640;
};

void PrintTo(const PlanCase& c, std::ostream* os) { *os << c.name; }

class ReorganizePlanMatchesRun : public ReorganizePlanTest, public ::testing::WithParamInterface<PlanCase> {};

TEST_P(ReorganizePlanMatchesRun, ThePlanTellsWhatTheRunDoes) {
    const PlanCase& c = GetParam();
    c.build(*this);
    Open();
    db->m_nReorganizeCapacity = c.capacity;
    ReorganizePlan plan;
    ASSERT_TRUE(db->PlanReorganize(plan)) << c.name;
    SCOPED_TRACE(c.name + std::string("\n") + DescribePlan(plan));

    // Where every row is before the run, under the numbers the renumbering gives.
    auto renumbered = [&](long id) {
        for (const auto& r : plan.renumbered)
            if (r.oldId == id) return r.newId;
        return id;
    };
    std::map<long, std::map<long, std::int64_t>> before;
    for (const auto& [id, path] : Main("SELECT ID, DATABASE FROM DATABASES"))
        if (fs::exists(path)) before[renumbered(id)] = RowsOf(path, a->password);
    std::set<std::string> namesBefore = Names(dir.path());

    db->Reorganize();

    if (!plan.refusal.empty()) {
        ASSERT_FALSE(window.boxes.empty());
        EXPECT_EQ(plan.refusal, window.boxes[0].text);
        EXPECT_TRUE(plan.moves.empty());
        return;
    }
    for (const auto& box : window.boxes) ADD_FAILURE() << "the run showed: " << box.text;

    // Where the rows are afterwards.
    std::map<long, std::pair<long, std::int64_t>> where;  // row ID -> DATABASES.ID, length
    for (const auto& [id, path] : Main("SELECT ID, DATABASE FROM DATABASES"))
        for (const auto& [row, length] : RowsOf(path, a->password)) where[row] = {id, length};
    // The final renumbering gives the files lower numbers: counted under
    // the numbers the moves knew them by.
    auto beforeEnd = [&](long id) {
        for (const auto& r : plan.renumberedAtEnd)
            if (r.newId == id) return r.oldId;
        return id;
    };
    for (auto& [row, at] : where) at.first = beforeEnd(at.first);
    // Rows that took a new number (a row that was not its document's) are
    // found by their length among the numbers no file had before.
    std::set<long> known;
    for (const auto& [source, rows] : before)
        for (const auto& [row, length] : rows) known.insert(row);
    std::multiset<std::pair<long, std::int64_t>> renumberedRows;
    for (const auto& [row, at] : where)
        if (!known.count(row)) renumberedRows.insert(at);
    std::map<std::pair<long, long>, std::pair<long, std::int64_t>> real, planned;
    for (const auto& [source, rows] : before)
        for (const auto& [row, length] : rows) {
            long to = 0;
            const auto it = where.find(row);
            if (it != where.end() && it->second.first != source && it->second.second == length) {
                to = it->second.first;
            } else {
                for (auto n = renumberedRows.begin(); n != renumberedRows.end(); ++n)
                    if (n->first != source && n->second == length && length > 0) {
                        to = n->first;
                        renumberedRows.erase(n);
                        break;
                    }
            }
            if (to == 0) continue;
            auto& m = real[{source, to}];
            ++m.first;
            m.second += length;
        }
    for (const auto& m : plan.moves) {
        auto& p = planned[{m.sourceId, m.destinationId}];
        p.first += m.documents;
        p.second += m.bytes;
    }
    EXPECT_EQ(planned, real);

    std::set<std::string> retiredReal, retiredPlanned;
    for (const std::string& name : Names(dir.path()))
        if (!namesBefore.count(name) && name.size() > 9 && name.substr(name.size() - 9) == ".obsolete")
            retiredReal.insert(name);
    for (const std::string& path : plan.retired) retiredPlanned.insert(fs::path(path).filename().string() + ".obsolete");
    for (const auto& [path, aside] : plan.setAside) retiredPlanned.insert(fs::path(aside).filename().string());
    for (const auto& [path, aside] : plan.setAsideAtEnd) retiredPlanned.insert(fs::path(aside).filename().string());
    EXPECT_EQ(retiredPlanned, retiredReal);

    // The sub databases listed at the end, under their final names.
    std::set<std::string> listedPlanned, listedReal;
    for (const auto& f : plan.files) {
        if (std::find(plan.retired.begin(), plan.retired.end(), f.path) != plan.retired.end()) continue;
        if (std::any_of(plan.setAsideAtEnd.begin(), plan.setAsideAtEnd.end(),
                        [&](const auto& aside) { return aside.first == f.path; }))
            continue;
        std::string path = f.path;
        for (const auto& r : plan.renumberedAtEnd)
            if (r.from == f.path) path = r.to;
        listedPlanned.insert(fs::path(path).filename().string());
    }
    for (const auto& [id, path] : Main("SELECT ID, DATABASE FROM DATABASES"))
        listedReal.insert(fs::path(path).filename().string());
    EXPECT_EQ(listedPlanned, listedReal);

    const std::string log = Log();
    EXPECT_EQ(plan.duplicatesOverwritten + plan.duplicatesFixed,
              static_cast<long>(Occurrences(log, " - Duplicate entries detected!")));
    EXPECT_EQ(plan.duplicatesFixed, static_cast<long>(Occurrences(log, " - Duplicate reference found: creating new reference")));
    EXPECT_EQ(plan.unreferencedSkipped, static_cast<long>(Occurrences(log, "Unreferenced empty document: skipping")));
    EXPECT_EQ(plan.unreferencedRepaired, static_cast<long>(Occurrences(log, "Unreferenced: creating new entry")));

    for (const auto& f : plan.files) {
        if (std::find(plan.retired.begin(), plan.retired.end(), f.path) != plan.retired.end()) continue;
        std::string path = f.path;
        for (const auto& r : plan.renumberedAtEnd)
            if (r.from == f.path) path = r.to;
        for (const auto& [from, aside] : plan.setAsideAtEnd)
            if (from == f.path) path = aside;
        ASSERT_TRUE(fs::exists(path)) << path;
        const std::int64_t pages = PageCount(path, a->password);
        RecordProperty("pages_off_" + fs::path(f.path).filename().string(), static_cast<int>(f.after / 16384 - pages));
        EXPECT_NEAR(static_cast<double>(f.after / 16384), static_cast<double>(pages), plan.pageTolerance) << f.path;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Archives, ReorganizePlanMatchesRun,
    ::testing::Values(
        PlanCase{"several_small_ones_pack_into_one",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2, 3}, 3000);
                     t.SubWith(2, {4, 5}, 5000);
                     t.SubWith(3, {6}, 7000);
                     t.SubWith(4, {7, 8, 9}, 2000);
                 }},
        PlanCase{"a_small_capacity_switches_destinations",
                 [](ReorganizePlanTest& t) {
                     for (long n = 1; n <= 5; ++n) t.SubWith(n, {10 * n, 10 * n + 1}, 20000);
                 },
                 100'000},
        PlanCase{"the_switch_falls_in_the_middle_of_a_source",
                 [](ReorganizePlanTest& t) {
                     t.Many(1, 2, 3, 9000);
                     t.Many(2, 100, 40, 9000);
                     t.Many(3, 200, 40, 9000);
                 },
                 400'000},
        PlanCase{"many_rows_in_several_batches",
                 [](ReorganizePlanTest& t) {
                     t.Many(1, 2, 300, 500);
                     t.Many(2, 1000, 700, 800);
                     t.Many(3, 3000, 10, 70000);
                 }},
        PlanCase{"duplicate_of_equal_size_is_overwritten",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {5}, 4000);
                     t.Pictures(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, randomblob(4000))");
                 }},
        PlanCase{"empty_duplicate_is_overwritten",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {5}, 4000);
                     t.Pictures(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, x'')");
                 }},
        PlanCase{"different_duplicate_becomes_a_fixed_document",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {5, 6}, 4000);
                     t.Pictures(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, randomblob(3000))");
                 }},
        PlanCase{"unreferenced_rows_skipped_and_repaired",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {3}, 1000);
                     t.Pictures(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (40, x'')");
                     t.Pictures(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (41, randomblob(500))");
                 }},
        PlanCase{"own_row_waits_in_the_destination_other_row_comes_in",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2, 5}, 4000);
                     t.SubWith(2, {6}, 1000);
                     t.Pictures(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, randomblob(6642))");
                 }},
        PlanCase{"own_row_waits_in_the_destination_empty_row_comes_in",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2, 5}, 4000);
                     t.SubWith(2, {6}, 1000);
                     t.Pictures(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, x'')");
                 }},
        PlanCase{"own_row_waits_in_the_destination_its_copy_comes_in",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {6}, 1000);
                     t.a->exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (5, 1, 0, 'x', 1)");
                     t.Pictures(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, zeroblob(5000))");
                     t.Pictures(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, zeroblob(5000))");
                 }},
        PlanCase{"own_row_in_a_later_source_other_row_comes_first",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {5}, 4000);
                     t.SubWith(3, {6}, 1000);
                     t.Pictures(3, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, randomblob(3000))");
                 }},
        PlanCase{"a_dataless_document_keeps_the_last_file_in_use",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {3}, 1000);
                     t.a->sub(3, {});
                     t.a->exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (9, 1, 0, 'x', 3)");
                 }},
        PlanCase{"one_sub_database", [](ReorganizePlanTest& t) { t.SubWith(1, {2, 3}, 5000); }},
        PlanCase{"no_sub_database", [](ReorganizePlanTest&) {}},
        PlanCase{"renumbered_before_the_moves",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(3, {4, 5}, 2000);
                     t.a->sub(4, {});
                 }},
        PlanCase{"a_read_only_sub_database_is_no_refusal",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {3}, 1000);
                     fs::permissions(t.Sub(2), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                                     fs::perm_options::remove);
                 }},
        PlanCase{"a_missing_file_is_refused",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {3}, 1000);
                     fs::remove(t.Sub(2));
                 }},
        PlanCase{"a_stored_path_not_standard_is_refused",
                 [](ReorganizePlanTest& t) {
                     t.SubWith(1, {2}, 1000);
                     t.SubWith(2, {3}, 1000);
                     // Listed twice: the renumbering stops, the list keeps a path that is not the standard one.
                     t.a->exec("INSERT INTO DATABASES (ID, DATABASE) VALUES (3, " +
                               ArchiveBuilder::SqlText(t.Sub(2)) + ")");
                     t.a->exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (9, 1, 0, 'x', 7)");
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReorganizePlanTest, ThePlanChangesNoByteModeOrTime) {
    SubWith(1, {2}, 1000);
    SubWith(2, {5, 6}, 4000);
    SubWith(4, {7}, 4000);
    a->sub(5, {});
    Pictures(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, randomblob(3000))");
    Pictures(2, "INSERT INTO PICTURES (ID, PICTURE) VALUES (40, x'')");
    fs::permissions(Sub(2), fs::perms::owner_write, fs::perm_options::remove);
    Open();
    WriteLog("opened");
    const auto files = Everything(dir.path());

    ReorganizePlan plan;
    ASSERT_TRUE(db->PlanReorganize(plan));
    const std::string text = DescribePlan(plan);

    EXPECT_EQ(Everything(dir.path()), files);
    EXPECT_TRUE(plan.refusal.empty()) << plan.refusal;
    EXPECT_FALSE(plan.renumbered.empty());
    EXPECT_FALSE(plan.moves.empty());
    EXPECT_NE(text.find(Sub(2)), std::string::npos) << text;
}

TEST_F(ReorganizePlanTest, TooLittleFreeSpaceIsTheRefusal) {
    SubWith(1, {2}, 1000);
    SubWith(2, {3}, 1000);
    Open();
    g_freeSpace = 1000;
    ReorganizePlan plan;
    ASSERT_TRUE(db->PlanReorganize(plan));
    db->Reorganize();
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(plan.refusal, window.boxes[0].text);
    EXPECT_NE(DescribePlan(plan).find(plan.refusal), std::string::npos);
}

// The command line: the description, or the plan as JSON; nothing asked, nothing changed.
TEST_F(ReorganizePlanTest, TheCommandPrintsThePlanAndChangesNothing) {
    SubWith(1, {2, 3}, 3000);
    SubWith(2, {4, 5}, 5000);
    const auto files = Everything(dir.path());
    TempDir scratch;

    const CliRun text = RunCli("reorganize '" + a->main + "' --plan", scratch);
    const CliRun json = RunCli("reorganize '" + a->main + "' --plan --json", scratch);

    EXPECT_EQ(Everything(dir.path()), files);
    EXPECT_EQ(text.exit, 0) << text.err;
    EXPECT_NE(text.out.find("2 documenten"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(".obsolete"), std::string::npos) << text.out;
    ASSERT_EQ(json.exit, 0) << json.err;
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
    EXPECT_TRUE(o.value("refusal").isNull());
    EXPECT_EQ(o.value("documents_moved").toInt(), 2);
    EXPECT_EQ(o.value("bytes_moved").toInt(), 10000);
    ASSERT_EQ(o.value("moves").toArray().size(), 1);
    EXPECT_EQ(o.value("moves").toArray()[0].toObject().value("destination_id").toInt(), 1);
    EXPECT_EQ(o.value("retired").toArray().size(), 1);
}

// The plan against the run on generated archives, many seeds and mixes of
// faults, through the command line as a user runs them: the plan of
// `--plan --json` (which opens the archive report-only, so the opening's
// own renumbering is part of it) against what `--yes` then does to the
// files; and every document leads to its bytes afterwards.
namespace {

// The .pdb files of a folder by name, after the plan's renames in order.
std::set<std::string> PlannedNames(std::set<std::string> names, const QJsonObject& plan) {
    auto base = [](const QJsonValue& v) { return fs::path(v.toString().toStdString()).filename().string(); };
    auto group = [&](const char* renumberedKey, const char* asideKey) {
        std::vector<std::string> added;
        for (const QJsonValue r : plan.value(renumberedKey).toArray()) {
            names.erase(base(r.toObject().value("from")));
            added.push_back(base(r.toObject().value("to")));
        }
        for (const QJsonValue r : plan.value(asideKey).toArray()) {
            names.erase(base(r.toObject().value("path")));
            added.push_back(base(r.toObject().value("as")));
        }
        names.insert(added.begin(), added.end());
    };
    group("renumbered", "set_aside");
    for (const QJsonValue r : plan.value("retired").toArray()) {
        names.erase(base(r));
        names.insert(base(r) + ".obsolete");
    }
    group("renumbered_at_end", "set_aside_at_end");
    return names;
}

std::set<std::string> PdbNames(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (name.find(".pdb") != std::string::npos) names.insert(name);
    }
    return names;
}

}  // namespace

TEST(ReorganizePlanGenerated, ThePlanTellsWhatTheRunDoesOnGeneratedArchives) {
    const std::vector<std::vector<std::string>> mixes = {
        {},
        {"same-id-different-data"},
        {"unreferenced-data", "unreferenced-empty-data"},
        {"sub-database-number-gaps"},
        {"unreferenced-sub-database"},
        {"same-id-different-data", "sub-database-number-gaps", "unreferenced-data"},
        {"data-in-other-sub-database", "unreferenced-empty-data"},
        {"empty-data-with-copy", "same-id-different-data", "unreferenced-sub-database"},
    };
    int compared = 0;
    for (std::uint32_t seed = 1; seed <= 32; ++seed) {
        const std::vector<std::string>& mix = mixes[seed % mixes.size()];
        TempDir dir;
        SampleOptions o;
        o.directory = dir.file("archive");
        o.documents = 20 + 7 * (seed % 5);
        o.folders = 4;
        o.subDatabases = 2 + static_cast<int>(seed % 4);
        o.documentSize = 1500;
        o.faults = mix;
        o.seed = seed;
        SampleManifest m;
        std::string error;
        std::string name = "seed " + std::to_string(seed) + " faults";
        for (const std::string& f : mix) name += " " + f;
        SCOPED_TRACE(name);
        if (!WriteSampleArchive(o, m, error)) {
            ADD_FAILURE() << error;
            continue;
        }
        const ArchiveSnapshot before = TakeSnapshot(m.mainDatabase);
        const std::set<std::string> namesBefore = PdbNames(o.directory);

        const CliRun planned = RunCli("reorganize " + ShellQuote(m.mainDatabase) + " --plan --json", dir);
        ASSERT_EQ(planned.exit, 0) << planned.err;
        const QJsonObject plan = QJsonDocument::fromJson(QByteArray::fromStdString(planned.out)).object();
        ASSERT_FALSE(plan.isEmpty()) << planned.out;
        EXPECT_EQ(PdbNames(o.directory), namesBefore) << "the plan changed the folder";
        const std::string logBefore = Slurp(LogName(m.mainDatabase));

        const CliRun run = RunCli("reorganize --yes " + ShellQuote(m.mainDatabase), dir);

        if (!plan.value("refusal").isNull()) {
            EXPECT_EQ(run.exit, 8) << run.out << run.err;
            continue;
        }
        EXPECT_EQ(run.exit, 0) << run.out << run.err;
        EXPECT_EQ(PdbNames(o.directory), PlannedNames(namesBefore, plan)) << planned.out;
        const ArchiveSnapshot after = TakeSnapshot(m.mainDatabase);
        for (const auto& [id, sha] : before.documents) EXPECT_EQ(after.documents.at(id), sha) << "document " << id;
        const std::string log = Slurp(LogName(m.mainDatabase)).substr(logBefore.size());
        EXPECT_EQ(plan.value("duplicates_overwritten").toInt() + plan.value("duplicates_fixed").toInt(),
                  Occurrences(log, " - Duplicate entries detected!"));
        EXPECT_EQ(plan.value("duplicates_fixed").toInt(),
                  Occurrences(log, " - Duplicate reference found: creating new reference"));
        EXPECT_EQ(plan.value("unreferenced_repaired").toInt(), Occurrences(log, "Unreferenced: creating new entry"));
        ++compared;
    }
    EXPECT_GE(compared, 22);
}
