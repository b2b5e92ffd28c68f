#include "windows/MessageBoxes.h"

#include <QMessageBox>
#include <QPushButton>
#include <QString>

#include "support/Log.h"
#include "support/TextResources.h"

#include <algorithm>
#include <map>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

namespace qx {

namespace {

MessageBoxAnswerer& Answerer() {
    static MessageBoxAnswerer answerer;
    return answerer;
}

// The notices shown in the current run, with how often each was met; null
// outside a run.
using NoticeKey = std::tuple<std::string, std::string, MsgIcon>;
using NoticeCounts = std::map<NoticeKey, int>;
NoticeCounts*& RunNotices() {
    static NoticeCounts* notices = nullptr;
    return notices;
}
// The notices of the whole session; null without one.
NoticeCounts*& SessionNotices() {
    static NoticeCounts* notices = nullptr;
    return notices;
}

// The notices held by the open that gathers them; null when none does.
std::vector<MessageBoxRequest>*& Gathered() {
    static std::vector<MessageBoxRequest>* gathered = nullptr;
    return gathered;
}

// True when the notice was shown before in this command, or (a warning or
// error) before in this session; counts it then. `sessionHolds` false: the
// session counts it but does not hold it back.
bool HeldBack(const std::string& text, const std::string& title, MsgIcon icon, bool sessionHolds = true) {
    if (!RunNotices()) return false;
    const NoticeKey key(text, title, icon);
    int met = ++(*RunNotices())[key];
    // Results ("no errors found") belong to their command and are told every time.
    if (SessionNotices() && (icon == MsgIcon::Exclamation || icon == MsgIcon::Critical)) {
        const int inSession = ++(*SessionNotices())[key];
        if (sessionHolds) met = std::max(met, inSession);
    }
    if (met == 1) return false;
    const std::string firstLine = text.substr(0, text.find_first_of("\r\n"));
    WriteLog("Notice met again (" + std::to_string(met) + " times), not shown again: " + firstLine);
    return true;
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

bool& Cautious() {
    static bool cautious = false;
    return cautious;
}

}  // namespace

CautiousQuestions::CautiousQuestions() : m_previous(std::exchange(Cautious(), true)) {}
CautiousQuestions::~CautiousQuestions() { Cautious() = m_previous; }

MessageBoxAnswerer SetMessageBoxAnswerer(MessageBoxAnswerer answerer) {
    return std::exchange(Answerer(), std::move(answerer));
}

MsgAnswer ShowMessageBox(QWidget* parent, const std::string& text, MsgButtons buttons, MsgIcon icon,
                         const std::string& title) {
    return ShowMessageBox(parent, text, buttons, icon, title, std::string());
}

namespace {

// `counted`: the notice has been counted and gathered already; it is shown now.
MsgAnswer Show(QWidget* parent, const std::string& text, const std::string& details, MsgButtons buttons,
               MsgIcon icon, const std::string& title, const std::string& extraButton, bool counted = false) {
    if (buttons == MsgButtons::OK && extraButton.empty() && !counted) {
        if (HeldBack(text, title, icon, Gathered() == nullptr)) return MsgAnswer::OK;
        if (Gathered()) {
            Gathered()->push_back(MessageBoxRequest{text, title, buttons, icon, {}, MsgAnswer::OK, details});
            return MsgAnswer::OK;
        }
    }
    // Every box carries the program's title; a caller without one of its own gets it.
    const std::string shownTitle = title.empty() ? GetResString(1, "Vellumo Quillex") : title;
    const std::vector<ButtonMap> map = ButtonsOf(buttons);
    // The first button is the default, as on the system the texts were
    // written for, except No where Yes would destroy something.
    const bool sayNo = Cautious() && (buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel);
    const MsgAnswer defaultAnswer = sayNo ? MsgAnswer::No : map.front().answer;
    if (Answerer())
        return Answerer()(MessageBoxRequest{text, shownTitle, buttons, icon, extraButton, defaultAnswer, details});

    QMessageBox box(IconOf(icon), Displayed(shownTitle), Displayed(text), QMessageBox::NoButton, parent);
    if (!details.empty()) box.setDetailedText(Displayed(details));
    for (const ButtonMap& m : map) box.addButton(m.button);
    QPushButton* extra = extraButton.empty() ? nullptr : box.addButton(Displayed(extraButton), QMessageBox::ActionRole);
    for (const ButtonMap& m : map)
        if (m.answer == defaultAnswer) box.setDefaultButton(m.button);
    const auto pressed = static_cast<QMessageBox::StandardButton>(box.exec());
    if (extra && box.clickedButton() == extra) return kMsgAnswerExtra;
    for (const ButtonMap& m : map)
        if (m.button == pressed) return m.answer;
    return NullWindow::SafeAnswer(buttons);
}

// A notice's text on one line, for a list item.
std::string OneLine(const std::string& text) {
    QString line = QString::fromStdString(text);
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\n', u' ');
    return line.simplified().toStdString();
}

// The more severe of two icons: an error outweighs a warning, a warning a notice.
int Weight(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Critical: return 3;
    case MsgIcon::Exclamation: return 2;
    case MsgIcon::Information: return 1;
    default: return 0;
    }
}

}  // namespace

MsgAnswer ShowMessageBox(QWidget* parent, const std::string& text, MsgButtons buttons, MsgIcon icon,
                         const std::string& title, const std::string& extraButton) {
    return Show(parent, text, std::string(), buttons, icon, title, extraButton);
}

MsgAnswer ShowMessageBoxDetails(QWidget* parent, const std::string& text, const std::string& details,
                                MsgButtons buttons, MsgIcon icon, const std::string& title) {
    return Show(parent, text, details, buttons, icon, title, std::string());
}

MessageBoxGathering::MessageBoxGathering(QWidget* parent, std::string archive)
    : m_parent(parent), m_archive(std::move(archive)), m_outer(Gathered() == nullptr) {
    if (m_outer) Gathered() = new std::vector<MessageBoxRequest>;
}

MessageBoxGathering::~MessageBoxGathering() { Show(); }

void MessageBoxGathering::Show() {
    if (!m_outer || !Gathered()) return;
    const std::unique_ptr<std::vector<MessageBoxRequest>> held(std::exchange(Gathered(), nullptr));
    if (held->empty()) return;
    if (held->size() == 1) {
        const MessageBoxRequest& only = held->front();
        qx::Show(m_parent, only.text, only.details, only.buttons, only.icon, only.title, std::string(), true);
        return;
    }
    std::string text = FormatMsg(GetResString(343, "Bij het openen van '%s' is het volgende gevonden:"), {m_archive});
    std::string details;
    MsgIcon icon = MsgIcon::None;
    for (const MessageBoxRequest& notice : *held) {
        text += "\r\n\r\n\xE2\x80\xA2 " + OneLine(notice.text);
        if (!notice.details.empty())
            details += (details.empty() ? "" : "\r\n\r\n") +
                       OneLine(notice.title.empty() ? GetResString(1, "Vellumo Quillex") : notice.title) + "\r\n" +
                       notice.details;
        if (Weight(notice.icon) > Weight(icon)) icon = notice.icon;
    }
    qx::Show(m_parent, text, details, MsgButtons::OK, icon, GetResString(342, "Meldingen bij het openen..."),
             std::string(), true);
}

MessageBoxRun::MessageBoxRun() : m_outer(RunNotices() == nullptr) {
    if (m_outer) RunNotices() = new NoticeCounts;
}

MessageBoxRun::~MessageBoxRun() {
    if (!m_outer) return;
    delete RunNotices();
    RunNotices() = nullptr;
}

MessageBoxSession::MessageBoxSession() {
    if (!SessionNotices()) SessionNotices() = new NoticeCounts;
}

MessageBoxSession::~MessageBoxSession() {
    delete SessionNotices();
    SessionNotices() = nullptr;
}

}  // namespace qx
