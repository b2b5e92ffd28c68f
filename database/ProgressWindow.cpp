#include "database/ProgressWindow.h"

#include "support/HumanFormat.h"
#include "support/TextResources.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace qx {

namespace {

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Whole seconds, halves to the even neighbour as the estimates always did.
long RoundSeconds(double s) { return static_cast<long>(std::nearbyint(s)); }

ProgressWindow* g_active = nullptr;

}  // namespace

ProgressWindow::~ProgressWindow() {
    if (g_active == this) g_active = nullptr;
}

ProgressWindow* ProgressWindow::Active() { return g_active; }

ProgressWindow::ProgressWindow(MainWindow& window, std::function<double()> clock)
    : m_window(window), m_clock(clock ? std::move(clock) : SteadySeconds) {
    m_view.caption = GetResString(61, "Resources not found");
    m_sLblProgress1 = GetResString(62, "Resources not found");
    m_sLblProgress2 = GetResString(63, "Resources not found");
    m_timeLeftFormat = GetResString(64, "Resources not found");
    m_timeElapsedFormat = GetResString(65, "Resources not found");
    m_view.cancelText = GetResString(66, "Resources not found");
}

void ProgressWindow::SetInitial(long nTotalDocuments, int nMaxProgress, bool bShowDocument, double nStartTime) {
    m_start = nStartTime;
    m_total = nTotalDocuments;
    m_index = 0;
    m_pending = false;
    m_drawnAt = -1;
    m_finished = false;
    m_view.timeLeft = FormatMsg(m_timeLeftFormat, {""});
    m_view.timeElapsed = FormatMsg(m_timeElapsedFormat, {FormatElapsed(0)});
    m_shownElapsed = 0;
    m_shownLeft = -1;
    m_view.currentItem = FormatMsg(m_sLblProgress1, {""});
    // Once wide, the window keeps its room for the thumbnail for the run.
    if (bShowDocument) m_wideShown = true;
    m_view.wide = m_wideShown;
    m_view.value = 0;
    m_view.rate = 0;
    m_view.maximum = nMaxProgress;
    ShowCount(0);
    if (m_shown) m_window.ProgressUpdate(m_view);
}

void ProgressWindow::Show() {
    m_shown = true;
    g_active = this;
    m_window.ProgressShow(m_view);
}

void ProgressWindow::Start(long total, long currentItemTextId, long countLineTextId) {
    m_sLblProgress1 = GetResString(currentItemTextId, "Resources not found");
    m_sLblProgress2 = GetResString(countLineTextId, "Resources not found");
    SetInitial(total, 100, false, Now());
    Show();
}

void ProgressWindow::SetProgress(int nProgress, long nDocumentIndex, const std::string& sDocumentName) {
    constexpr double kRedrawsPerSecond = 30;
    m_index = nDocumentIndex;
    m_pendingValue = std::min(nProgress, m_view.maximum);
    m_pendingName = sDocumentName;
    m_pending = true;
    const double now = m_clock();
    const bool early = nDocumentIndex < 5, last = nDocumentIndex >= m_total;
    if (early || last || m_drawnAt < 0 || now - m_drawnAt >= 1 / kRedrawsPerSecond || now < m_drawnAt) {
        m_drawnAt = now;
        ShowPending();
        UpdateTimes();
    }
    m_window.DoEvents();
}

void ProgressWindow::ShowPending() {
    if (!m_pending) return;
    m_pending = false;
    m_view.currentItem = FormatMsg(m_sLblProgress1, {m_pendingName});
    m_view.value = m_pendingValue;
    ShowCount(m_index);
}

void ProgressWindow::ShowCount(long index) {
    m_shownIndex = index;
    m_shownTotal = std::max(m_total, index);
    m_view.countLine = FormatMsg(m_sLblProgress2, {FormatCount(m_shownIndex), FormatCount(m_shownTotal)});
}

void ProgressWindow::Tick() {
    if (!m_shown || g_active != this) return;
    ShowPending();
    UpdateTimes();
}

void ProgressWindow::Hide() {
    // A cancelled walk shows where it stood, not where it was last drawn.
    if (m_shown && m_pending) {
        ShowPending();
        UpdateTimes();
    }
    if (m_shown && m_window.ProgressVisible() && m_total > 0 && m_index >= m_total) {
        m_view.value = m_view.maximum;
        ShowCount(m_index);
        m_finished = true;
        UpdateTimes();
    }
    m_shown = false;
    if (g_active == this) g_active = nullptr;
    m_window.ProgressHide();
}

void ProgressWindow::UpdateTimes() {
    // Unrounded: a quick walk takes less than a second, and rounding that to
    // 0 s would promise "00:00" from the first items on.
    const double seconds = std::max(0.0, m_clock() - m_start);
    const long elapsed = RoundSeconds(seconds);
    // SetProgress names the item about to start: the one before it is done.
    const long done = m_finished ? m_index : std::max(0L, m_index - 1);
    m_view.rate = done > 0 && seconds > 0 ? done / seconds : 0;
    if (m_finished) {
        m_shownLeft = 0;
        m_view.timeLeft = FormatMsg(m_timeLeftFormat, {FormatElapsed(0)});
    } else if (m_index < 5 && (m_index < 4 || elapsed < 4)) {
        m_shownLeft = -1;
        m_view.timeLeft = FormatMsg(m_timeLeftFormat, {UnknownText()});
    } else if (m_index % 3 == 0 || m_timed) {
        const double remaining = static_cast<double>(m_total) * seconds / static_cast<double>(m_index) - seconds;
        m_shownLeft = RoundSeconds(std::max(0.0, remaining));
        m_view.timeLeft = FormatMsg(m_timeLeftFormat, {FormatElapsed(m_shownLeft)});
    }
    m_shownElapsed = elapsed;
    m_view.timeElapsed = FormatMsg(m_timeElapsedFormat, {FormatElapsed(elapsed)});
    if (m_shown || m_finished) m_window.ProgressUpdate(m_view);
}

}  // namespace qx
