#pragma once
// Shared by the window tests: scripted answers for message boxes and file
// dialogs (so nothing modal ever waits), and archives written on the spot.
#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "support/engine/Connection.h"
#include "support/engine/Sql.h"
#include "windows/CFileDlg.h"
#include "windows/MessageBoxes.h"

#include <QFile>
#include <QStringList>

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace qx::test {

// Records every box and answers from a script; when the script is empty the
// safe answer (OK, No, Cancel) is given.
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
    BoxScript& operator=(const BoxScript&) = delete;

    std::vector<MessageBoxRequest> boxes;
    std::deque<MsgAnswer> answers;

private:
    MessageBoxAnswerer m_previous;
};

// Stands in for the file dialog: remembers how it was set up and returns the
// scripted choice (nothing = Cancel).
class DialogScript {
public:
    struct Seen {
        QString caption, initialDir, filter, defaultExt, defaultFileName;
        int filterIndex = 0;
        long startupPosition = 0;
        bool hasParent = false, multiSelect = false, save = false;
    };

    explicit DialogScript(std::optional<QStringList> choice = std::nullopt) : choice(std::move(choice)) {
        m_previous = CFileDlg::SetRunner([this](const CFileDlg& d, bool isSave) {
            seen.push_back({d.Caption, d.InitialDir, d.Filter, d.DefaultExt, d.DefaultFileName, d.FilterIndex,
                            d.DialogStartupPostition, d.ParentForm != nullptr, d.MultiSelect, isSave});
            return this->choice;
        });
    }
    ~DialogScript() { CFileDlg::SetRunner(m_previous); }
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    std::optional<QStringList> choice;
    std::vector<Seen> seen;

private:
    CFileDlg::Runner m_previous;
};

inline const std::string& CurrentPassword() {
    static const std::string pwd = PasswordForGeneration(8);
    return pwd;
}

// A main database of `generation` in `dir`; for generations 7 and 8 also the
// OCR database and `subs` sub databases with one document each.
inline std::string WriteArchive(const QString& dir, const QString& name, int generation, int subs = 2) {
    const std::string main = (dir + u'/' + name).toStdString();
    sql::Error err;
    if (!CreateMainDatabase(main, generation, err)) return {};
    if (generation < 7) return main;
    CreateOmdDatabase(OmdName(main), err);
    const std::string pwd = PasswordForGeneration(generation);
    sql::Database db = sql::Database::open(main, engine::PasswordBytes(pwd), sql::OpenMode::ReadWrite, err);
    db.exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (1, 0, -1, 'Map')");
    for (int k = 1; k <= subs; ++k) {
        const std::string sub = SubDatabaseName(main, k);
        CreateSubDatabaseFile(sub, pwd, err);
        sql::Statement row(db, "INSERT INTO DATABASES (ID, DATABASE) VALUES (?, ?)");
        row.bind(1, std::int64_t(k));
        row.bind(2, std::string_view(sub));
        row.run();
        sql::Statement doc(db, "INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (?, 1, 0, ?, ?)");
        doc.bind(1, std::int64_t(k + 1));
        doc.bind(2, std::string_view("doc" + std::to_string(k)));
        doc.bind(3, std::int64_t(k));
        doc.run();
        sql::Database pdb = sql::Database::open(sub, engine::PasswordBytes(pwd), sql::OpenMode::ReadWrite, err);
        pdb.exec("INSERT INTO PICTURES (ID, PICTURE) VALUES (" + std::to_string(k + 1) + ", x'00')");
    }
    return main;
}

inline std::string WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return {};
    f.write(bytes);
    return path.toStdString();
}

}  // namespace qx::test
