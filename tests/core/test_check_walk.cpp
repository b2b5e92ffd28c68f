// The document walk of the normal check goes through the documents by sub
// database and ID, in pieces when they do not fit in its memory, reading
// each sub database in one pass beside it. Whatever the piece size, the
// IDs and the number of sub databases, it must find and repair the same,
// visit each document once and list the findings in folder order.
#include "database/checks/ResultCodes.h"
#include "support/Settings.h"
#include "support/engine/Recordset.h"
#include "tests/core/ArchiveBuilder.h"
#include "tests/core/CDatabaseTestAccess.h"
#include "tests/core/ScriptedWindow.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <vector>

using namespace qx;
using qx::test::ArchiveBuilder;

namespace {

constexpr long kSparseA = 1L << 40, kSparseB = 1L << 62, kSparseC = 1L << 41, kSparseD = 1L << 50;

struct Walked {
    std::map<long, short> findings;  // document id -> code of its list row
    std::vector<long> listed;        // the documents of the list rows, in list order
    std::vector<long> kept;          // the documents of the kept findings, in their order
    std::vector<short> unkeyed;      // codes of rows without a document
    long checked = 0, total = 0;
    bool noErrorsBox = false;
    std::string links;               // ID, DATABASEID, top level: every document after the run
};

struct WalkArchive {
    qx::test::TempDir dir;
    std::unique_ptr<ArchiveBuilder> a = std::make_unique<ArchiveBuilder>(dir.path());

    Walked run(short flags, std::size_t budget) {
        Settings::Reset();
        Settings::Get().LogFileName = dir.file("Kantoor.log");
        qx::test::ScriptedWindow window;
        CDatabase db(window, window.env());
        Settings::Get().DatabasePassword = a->password;
        Settings::Get().DatabaseVersion = 8;
        db.m_bShowErrors = false;
        CDatabaseTestAccess::SetWalkBudget(db, budget);
        EXPECT_TRUE(db.OpenDatabase(CDatabase::ConnectString(a->main, a->password)));
        window.boxes.clear();
        db.Analyse(flags);
        Walked w;
        for (const ListRow& r : window.lists[ListId::Documents]) {
            if (r.key.empty()) {
                w.unkeyed.push_back(static_cast<short>(r.tag));
                continue;
            }
            const long id = std::stol(r.key.substr(2));
            w.findings[id] = static_cast<short>(r.tag);
            w.listed.push_back(id);
        }
        for (const Finding& f : db.Findings().all())
            if (f.id != 0) w.kept.push_back(f.id);
        w.checked = db.Findings().checked;
        w.total = db.Findings().total;
        for (const auto& b : window.boxes) w.noErrorsBox |= b.icon == MsgIcon::Information;
        Settings::Reset();
        w.links = query("SELECT ID, DATABASEID, PARENT IS NULL FROM FOLDERS WHERE NOT ISFOLDER ORDER BY ID");
        return w;
    }
    std::string query(const std::string& sql) {
        engine::Connection cn(qx::RealEnv());
        EXPECT_TRUE(cn.open(CDatabase::ConnectString(a->main, a->password)));
        engine::Recordset rs;
        EXPECT_TRUE(rs.open(sql, cn, engine::CursorMode::Lookup)) << sql;
        std::string out;
        for (; !rs.eof(); rs.moveNext())
            for (int i = 0; i < rs.fieldCount(); ++i) out += (out.empty() ? "" : "|") + rs.value(i).toString();
        return out;
    }
    static std::string Id(long id) { return std::to_string(id); }
};

// Ten sub databases (more than the walk keeps open), IDs far apart, and
// one document of each kind of finding the normal check makes.
void BuildVaried(WalkArchive& w) {
    ArchiveBuilder& a = *w.a;
    a.sub(1, {2, 3, kSparseA, kSparseC}).sub(2, {5});
    for (long n = 3; n <= 10; ++n) a.sub(n, {100 * n, 100 * n + 1});
    // No data anywhere, at the top level: a broken link.
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (" + WalkArchive::Id(kSparseB + 5) +
           ", NULL, 0, 'far', 2)");
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (" + WalkArchive::Id(kSparseB) +
           ", NULL, 0, 'top', 1)");
    a.execIn(1, "INSERT INTO PICTURES (ID, PICTURE) VALUES (" + WalkArchive::Id(kSparseB) + ", x'01')");
    // Missing in its own sub database, kept in sub database 9: relinked there.
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (50, 1, 0, 'moved', 1)");
    a.execIn(9, "INSERT INTO PICTURES (ID, PICTURE) VALUES (50, x'0506')");
    // Empty, without a copy.
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (60, 1, 0, 'empty', 3)");
    a.execIn(3, "INSERT INTO PICTURES (ID, PICTURE) VALUES (60, x'')");
    // In a folder that does not exist.
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (70, 40, 0, 'lost', 4)");
    a.execIn(4, "INSERT INTO PICTURES (ID, PICTURE) VALUES (70, x'07')");
    // Second copies: in a sub database walked later, one walked earlier,
    // and ones behind the last document of their file.
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (80, 1, 0, 'twice', 5)");
    a.execIn(5, "INSERT INTO PICTURES (ID, PICTURE) VALUES (80, x'08')");
    a.execIn(10, "INSERT INTO PICTURES (ID, PICTURE) VALUES (80, x'0808')");
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (90, 1, 0, 'twice too', 6)");
    a.execIn(6, "INSERT INTO PICTURES (ID, PICTURE) VALUES (90, x'09')");
    a.execIn(3, "INSERT INTO PICTURES (ID, PICTURE) VALUES (90, x'0909')");
    a.execIn(6, "INSERT INTO PICTURES (ID, PICTURE) VALUES (" + WalkArchive::Id(kSparseC) + ", x'0909')");
    a.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (" + WalkArchive::Id(kSparseD) +
           ", 1, 0, 'far twice', 8)");
    a.execIn(8, "INSERT INTO PICTURES (ID, PICTURE) VALUES (" + WalkArchive::Id(kSparseD) + ", x'0A')");
    a.execIn(7, "INSERT INTO PICTURES (ID, PICTURE) VALUES (" + WalkArchive::Id(kSparseD) + ", x'0B0B')");
    // Empty leftovers elsewhere are no copies.
    a.execIn(3, "INSERT INTO PICTURES (ID, PICTURE) VALUES (5, x'')");
}

}  // namespace

TEST(CheckWalk, FindsTheSameInFolderOrderWhateverThePieceSize) {
    struct Case {
        const char* name;
        std::size_t budget;
    };
    const Case cases[] = {
        {"in one piece", 96u << 20},
        {"a row at a time", 1},
        {"a few rows at a time", 300},
    };
    const std::map<long, short> expected{{kSparseB + 5, ResultBadLink},  {50, ResultBadLinkFixed},
                                         {60, ResultEmptyDocument},     {70, ResultVirtualPathFixed},
                                         {80, ResultStrayDuplicate},    {90, ResultStrayDuplicate},
                                         {kSparseC, ResultStrayDuplicate},
                                         {kSparseD, ResultStrayDuplicate}};
    // Folder order: the top level first, then by folder and ID; the second
    // copies, found once every sub database was read, after the rest.
    const std::vector<long> order{kSparseB + 5, 50, 60, 70, 80, 90, kSparseC, kSparseD};
    std::string linksAfter;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WalkArchive w;
        BuildVaried(w);
        const long documents = std::stol(w.query("SELECT COUNT(*) FROM FOLDERS WHERE NOT ISFOLDER"));
        const Walked first = w.run(23, c.budget);
        EXPECT_EQ(first.findings, expected);
        EXPECT_EQ(first.listed, order);
        EXPECT_EQ(first.kept, order);
        EXPECT_TRUE(first.unkeyed.empty());
        // Each document once, also the one moved to a sub database walked later.
        EXPECT_EQ(first.checked, documents);
        EXPECT_EQ(first.total, documents);
        EXPECT_EQ(w.query("SELECT DATABASEID, PARENT IS NULL FROM FOLDERS WHERE ID IN (50, 70) ORDER BY ID"),
                  "9|0|4|1");
        if (linksAfter.empty()) linksAfter = first.links;
        EXPECT_EQ(first.links, linksAfter);
        const Walked second = w.run(23, c.budget);
        EXPECT_EQ(second.findings, (std::map<long, short>{{kSparseB + 5, ResultBadLink},
                                                          {60, ResultEmptyDocument},
                                                          {80, ResultStrayDuplicate},
                                                          {90, ResultStrayDuplicate},
                                                          {kSparseC, ResultStrayDuplicate},
                                                          {kSparseD, ResultStrayDuplicate}}));
        EXPECT_EQ(second.checked, documents);
    }
}

// A page of a sub database that does not read is damage, wherever it lies:
// among the documents (those whose rows do not read are damaged, none is
// moved to another copy) or behind the last one (the file is damaged).
TEST(CheckWalk, AnUnreadablePageIsDamageNeverAbsence) {
    struct Case {
        const char* name;
        long firstDocument, lastDocument;  // the documents of sub database 1
        std::size_t budget;
    };
    const Case cases[] = {
        {"among the documents", 100, 399, 96u << 20},
        {"among the documents, walked in pieces", 100, 399, 500},
        {"behind the last document", 100, 104, 96u << 20},
        {"behind the last document, walked in pieces", 100, 104, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WalkArchive w;
        w.a->sub(1, {}).sub(2, {});
        const std::string docs = "WITH RECURSIVE r(i) AS (SELECT " + std::to_string(c.firstDocument) +
                                 " UNION ALL SELECT i + 1 FROM r WHERE i < " + std::to_string(c.lastDocument) + ") ";
        w.a->exec(docs + "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) SELECT i, 1, 0, 'd', 1 FROM r");
        // Data under IDs 100 to 399 in both: the rows past the documents are leftovers.
        const std::string rows = "WITH RECURSIVE r(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM r WHERE i < 399) ";
        w.a->execIn(1, rows + "INSERT INTO PICTURES (ID, PICTURE) SELECT i, randomblob(1500) FROM r");
        w.a->execIn(2, rows + "INSERT INTO PICTURES (ID, PICTURE) SELECT i, x'0102' FROM r");
        {
            std::fstream f(SubDatabaseName(w.a->main, 1), std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(24 * 16384 + 200);  // a leaf page well behind the first rows
            f.write("\xde\xad\xbe\xef\xde\xad\xbe\xef", 8);
        }
        const Walked o = w.run(23, c.budget);
        EXPECT_EQ(w.query("SELECT COUNT(*) FROM FOLDERS WHERE DATABASEID <> 1 AND ID >= 100"), "0");
        bool damage = std::ranges::count(o.unkeyed, short(ResultPdbDamaged)) > 0;
        for (const auto& [id, code] : o.findings) {
            EXPECT_EQ(code, ResultPdbDamaged) << "document " << id;
            damage = true;
        }
        EXPECT_TRUE(damage);
        EXPECT_FALSE(o.noErrorsBox);
        EXPECT_EQ(o.checked, c.lastDocument - c.firstDocument + 1);
    }
}

// Pieces of the walk meet the rows a repair changed: a document moved to a
// sub database that comes later in the walk is not judged a second time.
TEST(CheckWalk, ARelinkedDocumentIsVisitedOnce) {
    for (const std::size_t budget : {std::size_t{1}, std::size_t{200}, std::size_t{96u << 20}}) {
        SCOPED_TRACE(budget);
        WalkArchive w;
        w.a->sub(1, {2, 3}).sub(2, {}).sub(3, {30});
        w.a->exec("WITH RECURSIVE r(i) AS (SELECT 10 UNION ALL SELECT i + 1 FROM r WHERE i < 19) "
                  "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) SELECT i, 1, 0, 'd', 1 FROM r");
        w.a->execIn(3, "WITH RECURSIVE r(i) AS (SELECT 10 UNION ALL SELECT i + 1 FROM r WHERE i < 19) "
                       "INSERT INTO PICTURES (ID, PICTURE) SELECT i, x'0102' FROM r");
        const Walked o = w.run(23, budget);
        EXPECT_EQ(o.findings.size(), 10u);
        EXPECT_EQ(std::ranges::count_if(o.findings, [](const auto& f) { return f.second == ResultBadLinkFixed; }), 10);
        EXPECT_EQ(o.checked, 13);
        EXPECT_EQ(o.total, 13);
        EXPECT_EQ(w.query("SELECT COUNT(*) FROM FOLDERS WHERE DATABASEID = 3"), "11");
    }
}

// The link check reads each sub database in pieces by ID; rows it deletes
// or makes documents for on the way must not move the next piece's start.
TEST(CheckWalk, TheLinkCheckMeetsEveryRowOnceAcrossItsPieces) {
    struct Case {
        const char* name;
        long rows;  // unreferenced rows behind the documents: data and empty in turn
    };
    const Case cases[] = {{"within one piece", 40}, {"across two pieces", 200}, {"across three pieces", 300}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WalkArchive w;
        w.a->sub(1, {2, 3, 4}).sub(2, {5});
        w.a->execIn(1, "WITH RECURSIVE r(i) AS (SELECT 1000 UNION ALL SELECT i + 1 FROM r WHERE i < " +
                           std::to_string(999 + c.rows) +
                           ") INSERT INTO PICTURES (ID, PICTURE) SELECT i, CASE i % 2 WHEN 0 THEN x'01' ELSE x'' END "
                           "FROM r");
        const Walked first = w.run(32, 96u << 20);
        EXPECT_EQ(static_cast<long>(first.findings.size()), c.rows / 2);
        EXPECT_TRUE(std::ranges::all_of(first.findings, [](const auto& f) { return f.second == ResultLinkCreated; }));
        EXPECT_EQ(w.query("SELECT COUNT(*) FROM FOLDERS WHERE NOT ISFOLDER AND ID >= 1000"), std::to_string(c.rows / 2));
        EXPECT_TRUE(w.run(32, 96u << 20).findings.empty());
    }
}
