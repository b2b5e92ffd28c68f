#pragma once
// Shared by the window tests: scripted answers for message boxes and file
// dialogs (so nothing modal ever waits), and sample archives.
#include "tools/sample/SampleArchive.h"
#include "windows/CFileDlg.h"
#include "windows/MessageBoxes.h"

#include <deque>
#include <optional>
#include <vector>

namespace qx::test {

// Records every box and answers from the script, then with the safe answer.
class BoxScript {
public:
    BoxScript() {
        m_previous = SetMessageBoxAnswerer([this](const MessageBoxRequest& r) {
            boxes.push_back(r);
            if (answers.empty()) return NullWindow::SafeAnswer(r.buttons);
            const MsgAnswer a = answers.front();
            answers.pop_front();
            return a;
        });
    }
    ~BoxScript() { SetMessageBoxAnswerer(m_previous); }
    BoxScript(const BoxScript&) = delete;
    std::vector<MessageBoxRequest> boxes;
    std::deque<MsgAnswer> answers;

private:
    MessageBoxAnswerer m_previous;
};

// Stands in for the file dialog: records its set-up, returns the choice
// (nothing = Cancel).
class DialogScript {
public:
    struct Seen {
        QString caption, initialDir, filter, defaultExt;
        int filterIndex = 0;
        bool hasParent = false, save = false;
    };
    explicit DialogScript(std::optional<QStringList> choice = std::nullopt) : choice(std::move(choice)) {
        m_previous = CFileDlg::SetRunner([this](const CFileDlg& d, bool isSave) {
            seen.push_back({d.Caption, d.InitialDir, d.Filter, d.DefaultExt, d.FilterIndex, d.ParentForm != nullptr,
                            isSave});
            return this->choice;
        });
    }
    ~DialogScript() { CFileDlg::SetRunner(m_previous); }
    DialogScript(const DialogScript&) = delete;
    std::optional<QStringList> choice;
    std::vector<Seen> seen;

private:
    CFileDlg::Runner m_previous;
};

// `name`.dat in `dir`: two sub databases, four documents; mainDatabase "" on failure.
inline SampleManifest WriteArchive(const QString& dir, const QString& name, int generation,
                                   std::vector<std::string> faults = {}) {
    SampleManifest manifest;
    std::string error;
    WriteSampleArchive({.directory = dir.toStdString(), .name = name.toStdString(), .generation = generation,
                        .documents = 4, .folders = 1, .subDatabases = 2, .documentSize = 1024,
                        .faults = std::move(faults)},
                       manifest, error);
    return manifest;
}

}  // namespace qx::test
