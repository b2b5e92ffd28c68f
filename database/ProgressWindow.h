#pragma once
// What the progress window shows and when: the texts, the bar and the time
// estimates of a long operation. The window itself (widgets, terminal line,
// or the tests' record) only displays the view it is handed.
#include "database/MainWindow.h"

#include <functional>
#include <string>

namespace qx {

class ProgressWindow {
public:
    // clock: seconds since some fixed moment (tests pass their own).
    explicit ProgressWindow(MainWindow& window, std::function<double()> clock = {});
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    // The progress window on screen now (the last one shown and not yet
    // hidden or gone), or null: whatever drives the once-a-second timer of
    // a window (its QTimer, the terminal's event pump) ticks this one.
    static ProgressWindow* Active();

    // Formats of the current-item line (one placeholder) and the count line
    // (index and total); loaded from the string table, callers may replace them.
    std::string m_sLblProgress1;
    std::string m_sLblProgress2;
    // The walk's name where its lines are not shown ("documenten",
    // "koppelingen"): a terminal names the phase its bar belongs to.
    std::string m_sPhase;

    void SetInitial(long nTotalDocuments, int nMaxProgress, bool bShowDocument, double nStartTime);
    void Show();
    // The usual start of a walk without thumbnails: the two line formats from
    // the string table by number, the total, and the window shown.
    void Start(long total, long currentItemTextId, long countLineTextId);
    void SetProgress(int nProgress, long nDocumentIndex, const std::string& sDocumentName);
    // Marks the time inside one item (the estimate may then be refreshed on
    // every tick instead of every third item).
    void SetTimedUpdate(bool enabled) { m_timed = enabled; }
    // The once-a-second timer: the elapsed clock and the estimate move on
    // even while one long item runs.
    void Tick();
    // The user cancels by hiding the window.
    bool Visible() const { return m_window.ProgressVisible(); }
    // A walk that went through every item shows its full bar and final
    // times before the window goes; a cancelled one is left as it stood.
    void Hide();

    double Now() const { return m_clock(); }
    const ProgressView& View() const { return m_view; }
    // The figures behind the texts shown last, for a window that composes
    // its own line: the item and total of the count line, the seconds
    // elapsed and left (-1 while not known).
    long ShownIndex() const { return m_shownIndex; }
    long ShownTotal() const { return m_shownTotal; }
    long ShownElapsed() const { return m_shownElapsed; }
    long ShownLeft() const { return m_shownLeft; }

private:
    void UpdateTimes();
    // Makes the texts of the item reported last, when they are behind.
    void ShowPending();

    MainWindow& m_window;
    std::function<double()> m_clock;
    ProgressView m_view;
    std::string m_timeLeftFormat, m_timeElapsedFormat;
    double m_start = 0;
    long m_total = 0;
    long m_index = 0;
    bool m_wideShown = false;
    bool m_timed = false;
    bool m_shown = false;
    bool m_finished = false;  // every item went through; shown at Hide
    // A walk reports tens of thousands of items a second; their texts are
    // made at most kRedrawsPerSecond times a second (and for the first and
    // the last items), the item reported last is kept until then.
    double m_drawnAt = -1;
    bool m_pending = false;
    long m_shownIndex = 0, m_shownTotal = 0, m_shownElapsed = 0, m_shownLeft = -1;
    void ShowCount(long index);
    int m_pendingValue = 0;
    std::string m_pendingName;
};

}  // namespace qx
