#pragma once
// Everything the database logic needs from a window, in one small interface.
// The desktop window implements it with widgets, the command line with the
// terminal, and the tests with a scripted fake that records every call and
// answers questions from a script. No database code knows which one it has.
#include <cstdint>
#include <string>
#include <vector>

namespace qx {

enum class MsgIcon { None = 0, Critical = 16, Question = 32, Exclamation = 48, Information = 64 };
enum class MsgButtons { OK = 0, OKCancel = 1, AbortRetryIgnore = 2, YesNoCancel = 3, YesNo = 4, RetryCancel = 5 };
enum class MsgAnswer { OK = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

// The main window's public members that the database logic reads and writes.
struct MainWindowState {
    std::string m_sDatabaseName;  // the open main database; "" when none
    long m_nDamaged = -1;  // -1: no check has run yet
    long m_nFixed = -1;
    bool m_bAnalysed = false;
    bool m_bCompressed = false;
    bool m_bMissingPdbs = false;
    long m_nOleDbErr = 0;
    long m_nDBSizeMB = 0;
    long m_nItemCount = 0;
    // Why changes of the last check or repair could not all be saved (disk
    // full, I/O error); "" when everything found repaired was saved.
    std::string m_sSaveError;
    // The last check was cancelled: its list holds only what it found until then.
    bool m_bListPartial = false;
};

enum class ListId { Documents, Picbases };  // lvDocuments, lvPicbases

struct ListRow {
    std::string key;                    // unique within the list; "" = no key (several allowed)
    std::string text;                   // first column
    std::vector<std::string> subItems;  // further columns
    std::int64_t tag = 0;
    bool red = false;                   // shown in red (damaged, missing)
};

// What the progress window shows; the texts are composed by the caller.
struct ProgressView {
    std::string caption;
    std::string currentItem;   // lblProgress1
    std::string countLine;     // lblProgress2
    std::string timeLeft;      // lblTimeLeft
    std::string timeElapsed;   // lblTimeElapsed
    std::string cancelText;
    int value = 0;             // ProgressBar2
    int maximum = 100;
    bool wide = false;         // room for a document thumbnail
    double rate = 0;           // items done per second; 0 while not yet known
};

class MainWindow {
public:
    virtual ~MainWindow() = default;

    virtual MainWindowState& State() = 0;
    virtual void UpdateStatusBar() = 0;

    virtual void ListClear(ListId list) = 0;
    // False when a row with that (non-empty) key is already in the list.
    // The new row is scrolled into view.
    virtual bool ListAdd(ListId list, const ListRow& row) = 0;
    virtual std::size_t ListCount(ListId list) const = 0;

    virtual void SetTitle(const std::string& title) = 0;
    // Enables the commands that need an open database, clears lvDocuments.
    virtual void UpdateMenus() = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual void SetBusy(bool busy) = 0;  // the hourglass pointer
    virtual MsgAnswer MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) = 0;

    // A message whose `details` are the engine's or the system's own words
    // (English, for whoever supports the user), kept apart from the Dutch
    // text that says what happened and what to do: a window shows them in a
    // details section. One that cannot puts them after the text.
    virtual MsgAnswer MsgBoxDetails(const std::string& text, const std::string& details, MsgButtons buttons,
                                    MsgIcon icon, const std::string& title) {
        return MsgBox(details.empty() ? text : text + "\r\n\r\n" + details, buttons, icon, title);
    }

    // Lets pending window messages run (keeps windows live, sees Cancel).
    virtual void DoEvents() = 0;

    // The progress window: shown while visible; the user cancels by hiding it.
    virtual void ProgressShow(const ProgressView& view) = 0;
    virtual void ProgressUpdate(const ProgressView& view) = 0;
    virtual bool ProgressVisible() const = 0;
    virtual void ProgressHide() = 0;

    // The reorganize window: a phase caption and Cancel, which hides it.
    virtual void ReorganizeShow() = 0;
    virtual void ReorganizeSetCaption(const std::string& caption) = 0;
    virtual void ReorganizeSetCancelEnabled(bool enabled) = 0;
    virtual bool ReorganizeVisible() const = 0;
    virtual void ReorganizeHide() = 0;

    // The compacting window: a status line and Cancel, which only raises a flag.
    virtual void CompactShow() = 0;
    virtual void CompactSetStatus(const std::string& text) = 0;
    virtual bool CompactCanceled() const = 0;
    virtual void CompactClose() = 0;

    // Loads a document's bytes as an image (and shows it beside the
    // progress texts when it can): 0 on success, else the loader's status.
    virtual int LoadImage(const std::vector<std::uint8_t>& data) = 0;
    // True when LoadImage only decodes (LoadImageStatus of support/
    // ImageLoader.h) and shows nothing: the check may then decode the next
    // documents on other threads while it goes on, instead of calling it.
    virtual bool LoadsWithoutDisplay() const { return false; }

    // The bar, count, bytes and times of a reorganize and of a compaction in
    // their windows (value of maximum; maximum 0 while the total is not
    // known). At most about 30 a second; the last one of a run has the bar full.
    virtual void ReorganizeProgress(const ProgressView&) {}
    virtual void CompactProgress(const ProgressView&) {}
};

// A window that shows nothing and gives the safe answer to every question
// (OK to notices, No or Cancel to choices). The base of quiet runs and of
// the tests' scripted window.
class NullWindow : public MainWindow {
public:
    MainWindowState state;

    MainWindowState& State() override { return state; }
    void UpdateStatusBar() override {}
    void ListClear(ListId) override {}
    bool ListAdd(ListId, const ListRow&) override { return true; }
    std::size_t ListCount(ListId) const override { return 0; }
    void SetTitle(const std::string&) override {}
    void UpdateMenus() override {}
    void SetEnabled(bool) override {}
    void SetBusy(bool) override {}
    MsgAnswer MsgBox(const std::string&, MsgButtons buttons, MsgIcon, const std::string&) override {
        return SafeAnswer(buttons);
    }
    void DoEvents() override {}
    void ProgressShow(const ProgressView&) override { m_progress = true; }
    void ProgressUpdate(const ProgressView&) override {}
    bool ProgressVisible() const override { return m_progress; }
    void ProgressHide() override { m_progress = false; }
    void ReorganizeShow() override { m_reorganize = true; }
    void ReorganizeSetCaption(const std::string&) override {}
    void ReorganizeSetCancelEnabled(bool) override {}
    bool ReorganizeVisible() const override { return m_reorganize; }
    void ReorganizeHide() override { m_reorganize = false; }
    void CompactShow() override {}
    void CompactSetStatus(const std::string&) override {}
    bool CompactCanceled() const override { return false; }
    void CompactClose() override {}
    int LoadImage(const std::vector<std::uint8_t>&) override { return 0; }

    static MsgAnswer SafeAnswer(MsgButtons buttons) {
        switch (buttons) {
        case MsgButtons::OK: return MsgAnswer::OK;
        case MsgButtons::YesNo:
        case MsgButtons::YesNoCancel: return MsgAnswer::No;
        default: return MsgAnswer::Cancel;
        }
    }

protected:
    bool m_progress = false;
    bool m_reorganize = false;
};

}  // namespace qx
