// The progress, summary and advice of the reorganize and compaction runs:
// what their windows are told while they run, and what the user reads when
// they end (done, report only, stopped, cancelled).
#include "database/maintenance/RunOutcome.h"
#include "database/maintenance/WorkProgress.h"
#include "support/FileOperations.h"
#include "support/TextResources.h"
#include "tests/core/ArchiveSnapshot.h"
#include "tests/core/CDatabaseTestAccess.h"
#include "tests/core/ReorganizeFixture.h"

#include <algorithm>
#include <cerrno>
#include <functional>

using namespace qx;
using namespace qx::test;
using namespace qx::test::reorganize;

namespace {

using namespace std::chrono_literals;

// A clock the test moves by hand.
struct FakeClock {
    WorkProgress::Clock::time_point at{};
    WorkProgress::Now now() {
        return [this] { return at; };
    }
};

bool IsCompactionStep(const ProgressView& v) { return v.currentItem.starts_with("Gecomprimeerd: "); }

// The bar never goes back and ends full.
void ExpectMonotonicAndFull(const std::vector<ProgressView>& views) {
    ASSERT_FALSE(views.empty());
    int last = 0;
    for (const ProgressView& v : views) {
        if (v.maximum == 0) continue;  // busy bar while the total is not known
        EXPECT_LE(v.value, v.maximum);
        EXPECT_GE(v.value, last) << v.countLine;
        last = v.value;
    }
    EXPECT_GT(views.back().maximum, 0);
    EXPECT_EQ(views.back().value, views.back().maximum);
}

}  // namespace

// -- WorkProgress on its own, with a clock moved by hand.

TEST(WorkProgress, ThrottlesUpdatesButNeverAPhaseOrTheEnd) {
    FakeClock clock;
    std::vector<ProgressView> shown;
    WorkProgress p([&](const ProgressView& v) { shown.push_back(v); }, clock.now());
    p.SetFormats("Documenten: %s van %s", "Verplaatst: %s van %s");
    p.Start(100, 100 * 1024);
    ASSERT_EQ(shown.size(), 1u);
    for (int i = 0; i < 10; ++i) p.Add(1, 1024);  // all within the same instant
    EXPECT_EQ(shown.size(), 1u);
    clock.at += 40ms;
    p.Add(1, 1024);
    EXPECT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown.back().countLine, "Documenten: 11 van 100");
    p.SetPhase("Bezig met comprimeren");  // at once, throttle or not
    EXPECT_EQ(shown.size(), 3u);
    p.Finish();
    EXPECT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown.back().value, shown.back().maximum);
    // 30 a second at most over a long stretch.
    std::size_t before = shown.size();
    for (int ms = 0; ms < 1000; ++ms) {
        clock.at += 1ms;
        p.Tick();
    }
    EXPECT_LE(shown.size() - before, 30u);
}

struct EstimateCase {
    const char* name;
    long itemsTotal;
    std::int64_t bytesTotal;
    std::chrono::milliseconds after;
    long items;
    std::int64_t bytes;
    int value;              // of 1000
    const char* countLine;
    const char* bytesLine;
    const char* timeLeft;
    const char* timeElapsed;
};

class WorkProgressTexts : public ::testing::TestWithParam<EstimateCase> {};

TEST_P(WorkProgressTexts, BarCountBytesAndTimesInDutch) {
    const EstimateCase& c = GetParam();
    FakeClock clock;
    ProgressView last;
    WorkProgress p([&](const ProgressView& v) { last = v; }, clock.now());
    p.SetFormats("Documenten: %s van %s", "Verplaatst: %s van %s");
    p.Start(c.itemsTotal, c.bytesTotal);
    clock.at += c.after;
    p.SetDone(c.items, c.bytes);
    EXPECT_EQ(last.value, c.value);
    EXPECT_EQ(last.countLine, c.countLine);
    EXPECT_EQ(last.currentItem, c.bytesLine);
    EXPECT_EQ(last.timeLeft, c.timeLeft);
    EXPECT_EQ(last.timeElapsed, c.timeElapsed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WorkProgressTexts,
    ::testing::Values(
        // The bar follows the bytes: they take the time.
        EstimateCase{"bytes_lead_the_bar", 4, 4 << 20, 10s, 3, 1 << 20, 250, "Documenten: 3 van 4",
                     "Verplaatst: 1,00 MB van 4,00 MB", "Geschatte resterende tijd: 0:30", "Verstreken tijd: 0:10"},
        EstimateCase{"no_estimate_in_the_first_seconds", 1200, 1200, 1500ms, 600, 600, 500,
                     "Documenten: 600 van 1.200", "Verplaatst: 600 bytes van 1,17 kB",
                     "Geschatte resterende tijd: onbekend", "Verstreken tijd: 0:01"},
        EstimateCase{"items_when_nothing_has_bytes", 10, 0, 1h, 5, 0, 500, "Documenten: 5 van 10",
                     "Verplaatst: 0 bytes van 0 bytes", "Geschatte resterende tijd: 1:00:00",
                     "Verstreken tijd: 1:00:00"},
        EstimateCase{"more_done_than_planned_raises_the_total", 2, 100, 5s, 3, 150, 1000, "Documenten: 3 van 3",
                     "Verplaatst: 150 bytes van 150 bytes", "Geschatte resterende tijd: 0:00", "Verstreken tijd: 0:05"},
        EstimateCase{"unknown_total_is_said", -1, -1, 5s, 7, 70, 0, "Documenten: 7 van onbekend",
                     "Verplaatst: 70 bytes van onbekend", "Geschatte resterende tijd: onbekend",
                     "Verstreken tijd: 0:05"}),
    [](const auto& info) { return std::string(info.param.name); });

// A compaction between or after the moves is a step the moves say nothing
// about: while it runs the bytes line is its own and the time left is not
// known (never "0:00" with work still running); the bar stays where the
// moves left it. Then the moves' bytes and estimate come back.
TEST(WorkProgress, ACompactionStepShowsItsOwnBytesAndNoEstimate) {
    FakeClock clock;
    ProgressView last;
    WorkProgress p([&](const ProgressView& v) { last = v; }, clock.now());
    p.SetFormats("Documenten: %s van %s", "Verplaatst: %s van %s");
    p.Start(4, 4096);
    const struct {
        const char* name;
        std::function<void()> act;
        int value, maximum;
        const char* bytesLine;
        const char* timeLeft;
    } steps[] = {
        {"half moved", [&] { clock.at += 10s; p.SetDone(2, 2048); }, 500, 1000, "Verplaatst: 2,00 kB van 4,00 kB",
         "0:10"},
        {"a compaction begins", [&] { p.BeginStep("Gecomprimeerd: %s van %s"); }, 500, 1000,
         "Gecomprimeerd: 0 bytes van onbekend", "onbekend"},
        {"a quarter compacted", [&] { clock.at += 1s; p.SetStep(256, 1024); }, 500, 1000,
         "Gecomprimeerd: 256 bytes van 1,00 kB", "onbekend"},
        {"the moves go on", [&] { p.EndStep(); }, 500, 1000, "Verplaatst: 2,00 kB van 4,00 kB", "0:11"},
        {"all moved", [&] { clock.at += 5s; p.SetDone(4, 4096); }, 1000, 1000, "Verplaatst: 4,00 kB van 4,00 kB",
         "0:00"},
        {"the last compaction runs", [&] { p.BeginStep("Gecomprimeerd: %s van %s"); clock.at += 1s; p.SetStep(512, 1024); },
         1000, 1000, "Gecomprimeerd: 512 bytes van 1,00 kB", "onbekend"},
        {"outside a step a copy only ticks", [&] { p.EndStep(); clock.at += 1s; p.SetStep(1024, 1024); }, 1000, 1000,
         "Verplaatst: 4,00 kB van 4,00 kB", "0:00"},
        {"a step ends with the run", [&] { p.BeginStep("Gecomprimeerd: %s van %s"); p.Finish(); }, 1000, 1000,
         "Verplaatst: 4,00 kB van 4,00 kB", "0:00"},
    };
    for (const auto& step : steps) {
        step.act();
        EXPECT_EQ(std::pair(last.value, last.maximum), std::pair(step.value, step.maximum)) << step.name;
        EXPECT_EQ(last.currentItem, step.bytesLine) << step.name;
        EXPECT_EQ(last.timeLeft, std::string("Geschatte resterende tijd: ") + step.timeLeft) << step.name;
        EXPECT_EQ(last.countLine.starts_with("Documenten: "), true) << step.name << ": " << last.countLine;
    }
}

// -- How the kinds of trouble are told apart.

TEST(RunOutcome, EngineCodesAndErrnoValuesNameTheirTrouble) {
    struct Case {
        int code;
        bool isErrno;
        Trouble trouble;
    } cases[] = {
        {13, false, Trouble::DiskFull},     {13 | (4 << 8), false, Trouble::DiskFull},
        {5, false, Trouble::InUse},         {6, false, Trouble::InUse},
        {11, false, Trouble::Damaged},      {26, false, Trouble::Damaged},
        {10, false, Trouble::Other},        {0, false, Trouble::None},
        {ENOSPC, true, Trouble::DiskFull},  {EBUSY, true, Trouble::InUse},
        {EIO, true, Trouble::Other},        {EACCES, true, Trouble::Other},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.isErrno ? TroubleOfErrno(c.code) : TroubleOfEngineCode(c.code), c.trouble)
            << c.code << (c.isErrno ? " (errno)" : "");
}

TEST(RunOutcome, EachTroubleSaysWhatToDo) {
    struct Case {
        CompactTrouble trouble;
        const char* says;
    } cases[] = {
        {{Trouble::DiskFull, "", 200 << 20, "/srv"}, "Maak ten minste 200 MB vrij op /srv"},
        {{Trouble::InUse, "", 0, ""}, "Sluit alle Vellumo programma's"},
        {{Trouble::Damaged, "", 0, ""}, "intensieve controle"},
        {{Trouble::Other, "disk I/O error", 0, ""}, "(disk I/O error)"},
    };
    for (const Case& c : cases)
        EXPECT_NE(TroubleAdvice(c.trouble).find(c.says), std::string::npos) << TroubleAdvice(c.trouble);
}

// -- Reorganize through the scripted window.

TEST_F(Reorganize, TheWindowSeesTheMoveGrowToItsEndAndTheSummaryCountsIt) {
    SubWith(1, {2, 3}, 3000);
    SubWith(2, {4, 5}, 5000);
    SubWith(3, {6}, 70000);
    Open();
    window.lists[ListId::Documents] = {ListRow{"ID99", "Rapport 99", {}, 0, true}};

    ASSERT_TRUE(db->Reorganize());

    ExpectMonotonicAndFull(window.reorganizeViews);
    // The compactions are shown as such, not as moves already done, and
    // never claim to know the time left.
    for (const ProgressView& v : window.reorganizeViews)
        if (IsCompactionStep(v))
            EXPECT_EQ(v.timeLeft, "Geschatte resterende tijd: onbekend") << v.caption << ": " << v.currentItem;
    const bool finalCompactionShown =
        std::any_of(window.reorganizeViews.begin(), window.reorganizeViews.end(), [](const ProgressView& v) {
            return IsCompactionStep(v) && v.caption == GetResString(72, "Resources not found");
        });
    EXPECT_TRUE(finalCompactionShown);
    const ProgressView& end = window.reorganizeViews.back();
    EXPECT_EQ(end.countLine, "Documenten: 3 van 3");
    EXPECT_NE(end.currentItem.find("van 78,1 kB"), std::string::npos) << end.currentItem;
    EXPECT_EQ(end.timeLeft, "Geschatte resterende tijd: 0:00");
    EXPECT_EQ(end.caption, GetResString(72, "Resources not found"));
    const ReorganizeOutcome& o = db->m_reorganizeOutcome;
    EXPECT_FALSE(o.cancelled);
    EXPECT_EQ(o.documentsMoved, 3);
    EXPECT_EQ(o.bytesMoved, 80000);
    EXPECT_EQ(o.filesSetAside, 2);  // the two emptied sub databases
    EXPECT_GT(o.bytesSetAside, 0);
    EXPECT_TRUE(window.lists[ListId::Documents].empty());  // a run that did its work replaces the list
    std::string title;
    bool stopped = true;
    const std::string text = DescribeReorganizeEnd(o, title, stopped);
    EXPECT_FALSE(stopped);
    EXPECT_EQ(title, "Reorganiseren klaar...");
    EXPECT_NE(text.find("Verplaatste documenten: 3"), std::string::npos) << text;
    EXPECT_NE(text.find("Opzijgezette bestanden: 2"), std::string::npos) << text;
}

TEST_F(Reorganize, AReportOnlyRunSaysWhatItWouldDo) {
    SubWith(1, {2}, 1000);
    SubWith(2, {3}, 1000);
    Open();
    ASSERT_TRUE(db->SetDryRun(true));

    db->Reorganize();

    ExpectMonotonicAndFull(window.reorganizeViews);
    std::string title;
    bool stopped = true;
    const std::string text = DescribeReorganizeEnd(db->m_reorganizeOutcome, title, stopped);
    EXPECT_FALSE(stopped);
    EXPECT_EQ(text.find("Alleen rapporteren: er is niets gewijzigd."), 0u) << text;
    EXPECT_NE(text.find("zou 1 documenten verplaatsen"), std::string::npos) << text;
    EXPECT_NE(text.find("1 bestanden opzijzetten"), std::string::npos) << text;
}

// A run that stops or is cancelled leaves the list of the last check as it
// was, and the message says what happened and what to do.
struct StopCase {
    const char* name;
    const char* failpoint;  // nullptr: the user cancels
    FailAction action;
    Trouble trouble;
    const char* says;
};

class ReorganizeEndsInAMessage : public Reorganize, public ::testing::WithParamInterface<StopCase> {};

TEST_P(ReorganizeEndsInAMessage, TheListStaysAndTheMessageSaysWhatToDo) {
    const StopCase& c = GetParam();
    SubWith(1, {2}, 1000);
    SubWith(2, {3, 4}, 3000);
    const ArchiveSnapshot before = TakeSnapshot(a->main);
    Open();
    const std::vector<ListRow> list = {ListRow{"ID99", "Rapport 99", {"\\Klanten", "Kantoor_1.pdb", "Leeg"}, 1, true}};
    window.lists[ListId::Documents] = list;
    if (c.failpoint) failpoints::Arm(c.failpoint, 1, c.action);
    else window.cancelReorganizeAfter = 2;

    db->Reorganize();
    failpoints::Reset();

    EXPECT_EQ(TakeSnapshot(a->main).documents, before.documents);
    ASSERT_EQ(window.lists[ListId::Documents].size(), 1u);
    EXPECT_EQ(window.lists[ListId::Documents][0].text, "Rapport 99");
    for (const std::string& call : window.calls) EXPECT_NE(call, "ListClear lvDocuments");
    const ReorganizeOutcome& o = db->m_reorganizeOutcome;
    EXPECT_EQ(o.cancelled, c.failpoint == nullptr);
    EXPECT_EQ(o.trouble.trouble, c.trouble);
    std::string title;
    bool stopped = false;
    const std::string text = DescribeReorganizeEnd(o, title, stopped);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(title, "Reorganiseren gestopt...");
    EXPECT_NE(text.find(c.says), std::string::npos) << text;
    EXPECT_NE(text.find("De lijst met resultaten is niet gewijzigd."), std::string::npos) << text;
    // Whatever was shown of the bar never went back.
    int last = 0;
    for (const ProgressView& v : window.reorganizeViews) {
        if (v.maximum == 0) continue;
        EXPECT_GE(v.value, last);
        last = v.value;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReorganizeEndsInAMessage,
    ::testing::Values(StopCase{"disk_full", "reorganize.copied", FailAction::NoSpace, Trouble::DiskFull,
                               "de schijf is vol. Maak ten minste"},
                      StopCase{"io_error", "reorganize.repointed", FailAction::IoError, Trouble::Other,
                               "In het logboek staan de details."},
                      StopCase{"cancelled", nullptr, FailAction::IoError, Trouble::None,
                               "Het reorganiseren is geannuleerd."}),
    [](const auto& info) { return std::string(info.param.name); });

// -- The compaction before a thorough check.

TEST_F(Reorganize, TheCompactionWindowCountsFilesAndBytesAndEndsWithASummary) {
    SubWith(1, {2, 3}, 30000);
    SubWith(2, {4}, 30000);
    Pictures(1, "DELETE FROM PICTURES WHERE ID = 3");  // room to win
    Open();
    db->m_nCompactAboveBytes = 1000;
    window.answers = {MsgAnswer::OK};

    ASSERT_TRUE(CDatabaseTestAccess::OfferPreCheckCompaction(*db));

    ExpectMonotonicAndFull(window.compactViews);
    bool secondFileSeen = false;
    for (const ProgressView& v : window.compactViews)
        secondFileSeen |= v.countLine == "Bestand 2 van 2: " + GetFileNamePart(Sub(2));
    EXPECT_TRUE(secondFileSeen);
    EXPECT_EQ(window.compactViews.back().currentItem.rfind("Gecomprimeerd: ", 0), 0u);
    ASSERT_EQ(window.boxes.size(), 2u);  // the question, then the summary
    const ScriptedWindow::Box& summary = window.boxes.back();
    EXPECT_EQ(summary.icon, MsgIcon::Information);
    EXPECT_EQ(summary.title, "Comprimeren klaar...");
    // The second sub database cannot shrink: it is left as it is, and counted apart.
    EXPECT_EQ(summary.text.find("Gecomprimeerde bestanden: 1 van 2."), 0u) << summary.text;
    EXPECT_NE(summary.text.find("Al compact en daarom overgeslagen: 1."), std::string::npos) << summary.text;
}

TEST_F(Reorganize, ACompactionThatFailsSaysWhyInItsSummary) {
    SubWith(1, {2}, 30000);
    // Free pages, so that the file is copied rather than skipped as compact.
    Pictures(1, "CREATE TABLE scratch (x BLOB); INSERT INTO scratch VALUES (randomblob(100000)); DROP TABLE scratch;");
    Open();
    db->m_nCompactAboveBytes = 1000;
    window.answers = {MsgAnswer::OK};
    failpoints::Arm("compact.copying", 1, FailAction::NoSpace);

    CDatabaseTestAccess::OfferPreCheckCompaction(*db);
    failpoints::Reset();

    ASSERT_EQ(window.boxes.size(), 2u);
    const ScriptedWindow::Box& summary = window.boxes.back();
    EXPECT_EQ(summary.icon, MsgIcon::Exclamation);
    EXPECT_NE(summary.text.find("Gecomprimeerde bestanden: 0 van 1."), std::string::npos) << summary.text;
    EXPECT_NE(summary.text.find("Niet alle bestanden zijn gecomprimeerd: de schijf is vol."), std::string::npos)
        << summary.text;
}
