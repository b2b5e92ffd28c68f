#include "windows/MessageBoxes.h"

#include <QMessageBox>
#include <QString>

#include <set>
#include <tuple>
#include <utility>
#include <vector>

namespace qx {

namespace {

MessageBoxAnswerer& Answerer() {
    static MessageBoxAnswerer answerer;
    return answerer;
}

// The notices shown in the current run; null outside a run.
using NoticeKey = std::tuple<std::string, std::string, MsgIcon>;
std::set<NoticeKey>*& RunNotices() {
    static std::set<NoticeKey>* notices = nullptr;
    return notices;
}

struct ButtonMap {
    QMessageBox::StandardButton button;
    MsgAnswer answer;
};

std::vector<ButtonMap> ButtonsOf(MsgButtons buttons) {
    using B = QMessageBox;
    switch (buttons) {
    case MsgButtons::OK: return {{B::Ok, MsgAnswer::OK}};
    case MsgButtons::OKCancel: return {{B::Ok, MsgAnswer::OK}, {B::Cancel, MsgAnswer::Cancel}};
    case MsgButtons::AbortRetryIgnore:
        return {{B::Abort, MsgAnswer::Abort}, {B::Retry, MsgAnswer::Retry}, {B::Ignore, MsgAnswer::Ignore}};
    case MsgButtons::YesNoCancel:
        return {{B::Yes, MsgAnswer::Yes}, {B::No, MsgAnswer::No}, {B::Cancel, MsgAnswer::Cancel}};
    case MsgButtons::YesNo: return {{B::Yes, MsgAnswer::Yes}, {B::No, MsgAnswer::No}};
    case MsgButtons::RetryCancel: return {{B::Retry, MsgAnswer::Retry}, {B::Cancel, MsgAnswer::Cancel}};
    }
    return {{B::Ok, MsgAnswer::OK}};
}

QMessageBox::Icon IconOf(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Critical: return QMessageBox::Critical;
    case MsgIcon::Question: return QMessageBox::Question;
    case MsgIcon::Exclamation: return QMessageBox::Warning;
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QString Displayed(const std::string& text) {
    return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

}  // namespace

MessageBoxAnswerer SetMessageBoxAnswerer(MessageBoxAnswerer answerer) {
    return std::exchange(Answerer(), std::move(answerer));
}

MsgAnswer ShowMessageBox(QWidget* parent, const std::string& text, MsgButtons buttons, MsgIcon icon,
                         const std::string& title) {
    if (buttons == MsgButtons::OK && RunNotices() && !RunNotices()->emplace(text, title, icon).second)
        return MsgAnswer::OK;
    if (Answerer()) return Answerer()(MessageBoxRequest{text, title, buttons, icon});

    QMessageBox box(IconOf(icon), Displayed(title), Displayed(text), QMessageBox::NoButton, parent);
    const std::vector<ButtonMap> map = ButtonsOf(buttons);
    for (const ButtonMap& m : map) box.addButton(m.button);
    // The first button is the default, as on the system the texts were written for.
    box.setDefaultButton(map.front().button);
    const auto pressed = static_cast<QMessageBox::StandardButton>(box.exec());
    for (const ButtonMap& m : map)
        if (m.button == pressed) return m.answer;
    return NullWindow::SafeAnswer(buttons);
}

MessageBoxRun::MessageBoxRun() : m_outer(RunNotices() == nullptr) {
    if (m_outer) RunNotices() = new std::set<NoticeKey>;
}

MessageBoxRun::~MessageBoxRun() {
    if (!m_outer) return;
    delete RunNotices();
    RunNotices() = nullptr;
}

}  // namespace qx
