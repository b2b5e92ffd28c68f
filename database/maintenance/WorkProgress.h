#pragma once
// The progress of a long maintenance run (reorganize, compaction) as its
// window shows it: a bar, a count line, a bytes line, the time spent and the
// time left. Work is measured in items and bytes; the bar and the estimate
// follow the bytes (they take the time), or the items when there are none.
// Updates reach the window at most about 30 times a second; a new phase, a
// new total and the end always do.
#include "database/MainWindow.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace qx {

class WorkProgress {
public:
    using Clock = std::chrono::steady_clock;
    using Show = std::function<void(const ProgressView&)>;
    using Now = std::function<Clock::time_point()>;
    // The bar's maximum: fine enough for a smooth bar, whatever the totals.
    static constexpr int kBarMaximum = 1000;
    static constexpr std::chrono::milliseconds kMinInterval{34};  // 30 a second at most
    // The estimate waits this long, and for the first work done: what the
    // first seconds say about the rest is mostly noise.
    static constexpr std::chrono::seconds kEstimateAfter{2};

    explicit WorkProgress(Show show, Now now = [] { return Clock::now(); });

    // The count line "<countFormat>" with done and total (empty: the caller
    // sets it with SetCountLine); the bytes line likewise.
    void SetFormats(std::string countFormat, std::string bytesFormat);
    // Starts the clock; a total below 0 is not known (the bar waits).
    void Start(long itemsTotal, std::int64_t bytesTotal);
    // Raises or sets the totals (a plan made after the start); never below what is done.
    void SetTotals(long itemsTotal, std::int64_t bytesTotal);
    void SetPhase(const std::string& caption);
    void SetCountLine(const std::string& line);
    // Work done since the last call.
    void Add(long items, std::int64_t bytes);
    // Work done in all, for a measure that is read rather than counted
    // (a copy's length); never goes back.
    void SetDone(long items, std::int64_t bytes);
    // The times again, when nothing else changed (a long step).
    void Tick();
    // A step outside the counted work (a compaction between or after the
    // moves): until EndStep the bytes line says `bytesFormat` with the
    // step's done and total, and the time left is not known, since the work
    // counted says nothing about the step; the bar keeps the counted work's
    // share (a bar that went back would read as work undone).
    // SetStep outside a step only keeps the times live.
    void BeginStep(std::string bytesFormat);
    void SetStep(std::int64_t done, std::int64_t total);
    void EndStep();
    // The bar at its maximum and the time left at zero, shown at once (a
    // step under way ends with it).
    void Finish();

    long Items() const { return m_items; }
    std::int64_t Bytes() const { return m_bytes; }
    const ProgressView& View() const { return m_view; }

private:
    void Compose();
    void Emit(bool force);

    Show m_show;
    Now m_now;
    std::string m_countFormat, m_bytesFormat, m_countLine;
    Clock::time_point m_start{}, m_lastShown{};
    bool m_shownOnce = false, m_finished = false;
    long m_items = 0, m_itemsTotal = -1;
    std::int64_t m_bytes = 0, m_bytesTotal = -1;
    bool m_inStep = false;
    std::string m_stepFormat;
    std::int64_t m_stepDone = 0, m_stepTotal = -1;
    ProgressView m_view;
};

}  // namespace qx
