#pragma once
// The one way the desktop windows ask the user something: a QMessageBox
// built from the window seam's buttons and icon. Tests and the screenshot
// run install an answerer instead, so that no modal box ever waits for a
// human.
#include "database/MainWindow.h"

#include <functional>
#include <string>

class QWidget;

namespace qx {

struct MessageBoxRequest {
    std::string text;  // as the caller composed it (CR LF line breaks kept)
    std::string title;
    MsgButtons buttons = MsgButtons::OK;
    MsgIcon icon = MsgIcon::None;
    std::string extraButton;  // the caption of a button besides the standard ones; "" for none
    MsgAnswer defaultAnswer = MsgAnswer::OK;  // the button Enter presses
    std::string details;  // shown apart, below the text (the engine's own words); "" for none
};

// While one lives, a question with Yes and No has No as its default
// button: for questions whose Yes destroys something.
class CautiousQuestions {
public:
    CautiousQuestions();
    ~CautiousQuestions();
    CautiousQuestions(const CautiousQuestions&) = delete;
    CautiousQuestions& operator=(const CautiousQuestions&) = delete;

private:
    bool m_previous;
};

// The answer of a box's extra button.
inline constexpr MsgAnswer kMsgAnswerExtra = static_cast<MsgAnswer>(100);

using MessageBoxAnswerer = std::function<MsgAnswer(const MessageBoxRequest&)>;

// Replaces the real boxes by `answerer` (an empty one restores them);
// returns the answerer that was installed before.
MessageBoxAnswerer SetMessageBoxAnswerer(MessageBoxAnswerer answerer);

// Shows the box modally over `parent` and returns the button pressed.
// Closing the box without a button gives the answer of its escape button
// (Cancel, or No where there is no Cancel, or OK for a plain notice).
MsgAnswer ShowMessageBox(QWidget* parent, const std::string& text, MsgButtons buttons, MsgIcon icon,
                         const std::string& title);
// The same with one more button after the standard ones, captioned
// `extraButton`; pressing it answers kMsgAnswerExtra. Asked every time.
MsgAnswer ShowMessageBox(QWidget* parent, const std::string& text, MsgButtons buttons, MsgIcon icon,
                         const std::string& title, const std::string& extraButton);

// The same with `details` (the engine's or the system's own words) in the
// box's details section, below the text.
MsgAnswer ShowMessageBoxDetails(QWidget* parent, const std::string& text, const std::string& details,
                                MsgButtons buttons, MsgIcon icon, const std::string& title);

// One opening of an archive. While one lives, a notice (OK only) is held
// instead of shown; when it ends, the notices held are shown as one box: a
// single one as it is, several as a list. Questions are asked when they
// come. A notice is held and shown even when the session met it before: an
// open that fails must say why every time it is tried. Gatherings do not
// nest: an inner one joins the outer.
class MessageBoxGathering {
public:
    // `archive`: the main database being opened, named in the list's box.
    MessageBoxGathering(QWidget* parent, std::string archive);
    ~MessageBoxGathering();
    MessageBoxGathering(const MessageBoxGathering&) = delete;
    MessageBoxGathering& operator=(const MessageBoxGathering&) = delete;
    // Shows what was held now (nothing when nothing was); later notices
    // are shown as they come.
    void Show();

private:
    QWidget* m_parent;
    std::string m_archive;
    bool m_outer;
};

// One command of the user (opening an archive, one check): while it lives,
// a notice (OK only) with the text, title and icon of one shown before in
// the same run is not shown again; ShowMessageBox answers OK at once.
// While a MessageBoxSession lives, "before" reaches back over every
// command of the session for warnings and errors (not for results). Questions are always asked. Runs do not nest:
// an inner one joins the outer.
class MessageBoxRun {
public:
    MessageBoxRun();
    ~MessageBoxRun();
    MessageBoxRun(const MessageBoxRun&) = delete;
    MessageBoxRun& operator=(const MessageBoxRun&) = delete;

private:
    bool m_outer;
};

// One run of the program (the main window holds it): a warning or error
// its commands met once is not shown again by a later command. Each notice held back is
// counted in the log.
class MessageBoxSession {
public:
    MessageBoxSession();
    ~MessageBoxSession();
    MessageBoxSession(const MessageBoxSession&) = delete;
    MessageBoxSession& operator=(const MessageBoxSession&) = delete;
};

}  // namespace qx
