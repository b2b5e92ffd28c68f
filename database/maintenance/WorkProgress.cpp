#include "database/maintenance/WorkProgress.h"

#include "support/HumanFormat.h"
#include "support/TextResources.h"

#include <algorithm>
#include <cmath>

namespace qx {

WorkProgress::WorkProgress(Show show, Now now) : m_show(std::move(show)), m_now(std::move(now)) {
    m_view.maximum = kBarMaximum;
}

void WorkProgress::SetFormats(std::string countFormat, std::string bytesFormat) {
    m_countFormat = std::move(countFormat);
    m_bytesFormat = std::move(bytesFormat);
}

void WorkProgress::Start(long itemsTotal, std::int64_t bytesTotal) {
    m_start = m_now();
    m_items = 0;
    m_bytes = 0;
    m_itemsTotal = itemsTotal;
    m_bytesTotal = bytesTotal;
    m_finished = false;
    m_view.value = 0;
    Emit(true);
}

void WorkProgress::SetTotals(long itemsTotal, std::int64_t bytesTotal) {
    m_itemsTotal = itemsTotal < 0 ? -1 : std::max(itemsTotal, m_items);
    m_bytesTotal = bytesTotal < 0 ? -1 : std::max(bytesTotal, m_bytes);
    Emit(true);
}

void WorkProgress::SetPhase(const std::string& caption) {
    if (caption == m_view.caption) return;
    m_view.caption = caption;
    Emit(true);
}

void WorkProgress::SetCountLine(const std::string& line) {
    m_countLine = line;
    Emit(true);
}

void WorkProgress::Add(long items, std::int64_t bytes) {
    SetDone(m_items + std::max(items, 0L), m_bytes + std::max<std::int64_t>(bytes, 0));
}

void WorkProgress::SetDone(long items, std::int64_t bytes) {
    m_items = std::max(m_items, items);
    m_bytes = std::max(m_bytes, bytes);
    // More done than planned (the plan is an estimate): the total follows.
    if (m_itemsTotal >= 0) m_itemsTotal = std::max(m_itemsTotal, m_items);
    if (m_bytesTotal >= 0) m_bytesTotal = std::max(m_bytesTotal, m_bytes);
    Emit(false);
}

void WorkProgress::Tick() { Emit(false); }

void WorkProgress::BeginStep(std::string bytesFormat) {
    m_inStep = true;
    m_stepFormat = std::move(bytesFormat);
    m_stepDone = 0;
    m_stepTotal = -1;
    Emit(true);
}

void WorkProgress::SetStep(std::int64_t done, std::int64_t total) {
    if (m_inStep) {
        m_stepTotal = total < 0 ? -1 : total;
        m_stepDone = std::max<std::int64_t>(done, 0);
        if (m_stepTotal >= 0) m_stepDone = std::min(m_stepDone, m_stepTotal);
    }
    Emit(false);
}

void WorkProgress::EndStep() {
    if (!m_inStep) return;
    m_inStep = false;
    Emit(true);
}

void WorkProgress::Finish() {
    m_finished = true;
    m_inStep = false;
    if (m_itemsTotal < 0) m_itemsTotal = m_items;
    if (m_bytesTotal < 0) m_bytesTotal = m_bytes;
    Emit(true);
}

void WorkProgress::Compose() {
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(m_now() - m_start);
    // The share done, by bytes when there are any to move, else by items; <0: not known.
    double share = -1;
    if (m_bytesTotal > 0) share = static_cast<double>(m_bytes) / static_cast<double>(m_bytesTotal);
    else if (m_itemsTotal > 0) share = static_cast<double>(m_items) / static_cast<double>(m_itemsTotal);
    else if (m_itemsTotal == 0 && m_bytesTotal == 0) share = 1;
    if (m_finished) share = 1;
    // The bar stays with the counted work (it never goes back); a step says
    // how far it is on the bytes line.
    const bool step = m_inStep && !m_finished;

    m_view.maximum = share < 0 ? 0 : kBarMaximum;  // 0: a busy bar until the total is known
    const int value = share < 0 ? 0 : static_cast<int>(std::floor(std::min(share, 1.0) * kBarMaximum));
    m_view.value = std::max(m_view.maximum == 0 ? 0 : m_view.value, value);

    auto total = [](auto n, auto format) { return n < 0 ? UnknownText() : format(n); };
    if (!m_countFormat.empty())
        m_view.countLine = FormatMsg(m_countFormat, {FormatCount(m_items), total(m_itemsTotal, [](long n) {
                                                         return FormatCount(n);
                                                     })});
    else
        m_view.countLine = m_countLine;
    if (step)
        m_view.currentItem = FormatMsg(m_stepFormat, {FormatBytes(m_stepDone), total(m_stepTotal, [](std::int64_t n) {
                                                          return FormatBytes(n);
                                                      })});
    else if (!m_bytesFormat.empty())
        m_view.currentItem = FormatMsg(m_bytesFormat, {FormatBytes(m_bytes), total(m_bytesTotal, [](std::int64_t n) {
                                                           return FormatBytes(n);
                                                       })});

    m_view.timeElapsed = FormatMsg(GetResString(65, "Verstreken tijd: %s"), {FormatElapsed(elapsed.count())});
    long left = -1;
    if (m_finished) left = 0;
    else if (!step && share > 0 && elapsed >= kEstimateAfter)
        left = std::lround(static_cast<double>(elapsed.count()) * (1 - std::min(share, 1.0)) / share);
    m_view.timeLeft = FormatMsg(GetResString(64, "Geschatte resterende tijd: %s"), {FormatElapsed(left)});
    m_view.rate = elapsed.count() > 0 ? static_cast<double>(m_bytes) / static_cast<double>(elapsed.count()) : 0;
}

void WorkProgress::Emit(bool force) {
    const Clock::time_point now = m_now();
    if (!force && m_shownOnce && now - m_lastShown < kMinInterval) return;
    Compose();
    m_lastShown = now;
    m_shownOnce = true;
    if (m_show) m_show(m_view);
}

}  // namespace qx
