#pragma once
// The window seam for tests: records every call as a line of text and
// answers message boxes from a script, so that any path through the
// database logic (including "the user pressed Cancel") runs headless.
#include "database/MainWindow.h"
#include "support/Env.h"
#include "support/ImageLoader.h"

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qx::test {

class ScriptedWindow : public NullWindow {
public:
    struct Box {
        std::string text, title;
        MsgButtons buttons;
        MsgIcon icon;
        std::string details = {};  // the engine's own words, kept apart (MsgBoxDetails)
    };

    // The session's file layers, as a front end builds them.
    EnvStack files = MakeEnvStack(false);
    Env& env() { return files.top(); }

    std::vector<std::string> calls;   // one line per call, in order
    std::vector<Box> boxes;           // every message box shown
    std::deque<MsgAnswer> answers;    // taken in order; when empty: OK, or No/Cancel for questions
    std::map<ListId, std::vector<ListRow>> lists;
    bool enabled = true, busy = false, progressVisible = false;
    ProgressView lastProgress;
    int progressUpdates = 0;
    int cancelAfterUpdates = -1;      // hide the progress window after that many updates
    int cancelAfterEvents = -1;       // ... after that many turns of the event loop (drawing is throttled, these are not)
    int events = 0;

    void UpdateStatusBar() override { calls.push_back("UpdateStatusBar"); }
    void ListClear(ListId l) override {
        calls.push_back(std::string("ListClear ") + name(l));
        lists[l].clear();
    }
    bool ListAdd(ListId l, const ListRow& row) override {
        for (const ListRow& r : lists[l])
            if (!row.key.empty() && r.key == row.key) return false;
        lists[l].push_back(row);
        calls.push_back(std::string("ListAdd ") + name(l) + " " + row.key);
        return true;
    }
    std::size_t ListCount(ListId l) const override {
        auto it = lists.find(l);
        return it == lists.end() ? 0 : it->second.size();
    }
    void SetEnabled(bool e) override {
        enabled = e;
        calls.push_back(e ? "Enable" : "Disable");
    }
    void SetBusy(bool b) override { busy = b; }
    MsgAnswer MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) override {
        return MsgBoxDetails(text, {}, buttons, icon, title);
    }
    MsgAnswer MsgBoxDetails(const std::string& text, const std::string& details, MsgButtons buttons, MsgIcon icon,
                            const std::string& title) override {
        boxes.push_back({text, title, buttons, icon, details});
        calls.push_back("MsgBox " + title);
        if (!answers.empty()) {
            MsgAnswer a = answers.front();
            answers.pop_front();
            return a;
        }
        return SafeAnswer(buttons);
    }
    void DoEvents() override {
        if (progressVisible && ++events == cancelAfterEvents) progressVisible = false;
    }
    void ProgressShow(const ProgressView& v) override {
        progressVisible = true;
        lastProgress = v;
        calls.push_back("ProgressShow");
    }
    void ProgressUpdate(const ProgressView& v) override {
        lastProgress = v;
        if (++progressUpdates == cancelAfterUpdates) progressVisible = false;
    }
    bool ProgressVisible() const override { return progressVisible; }
    void ProgressHide() override {
        progressVisible = false;
        calls.push_back("ProgressHide");
    }
    void ReorganizeSetCaption(const std::string& c) override { calls.push_back("ReorganizeCaption " + c); }
    void CompactSetStatus(const std::string& t) override { calls.push_back("CompactStatus " + t); }
    bool CompactCanceled() const override { return compactCanceled; }
    int LoadImage(const std::vector<std::uint8_t>& data) override {
        calls.push_back("LoadImage " + std::to_string(data.size()));
        return imageStatus ? *imageStatus : LoadImageStatus(data);
    }
    bool LoadsWithoutDisplay() const override { return !imageStatus && decodeAhead; }
    // Every view the reorganize and compacting windows were given, in order.
    std::vector<ProgressView> reorganizeViews, compactViews;
    void ReorganizeProgress(const ProgressView& v) override { reorganizeViews.push_back(v); }
    void CompactProgress(const ProgressView& v) override { compactViews.push_back(v); }
    bool compactCanceled = false;
    bool decodeAhead = true;  // false: every load goes through LoadImage, on the check's thread
    std::optional<int> imageStatus;  // the loader's answer; unset: the real loader decodes the bytes

private:
    static const char* name(ListId l) { return l == ListId::Documents ? "lvDocuments" : "lvPicbases"; }
};

}  // namespace qx::test
