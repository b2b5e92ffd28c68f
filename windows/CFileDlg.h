#pragma once
// The system's open and save dialogs behind a few properties: a window sets
// caption, folder, filter and default extension, calls ShowOpen or ShowSave
// and reads the chosen file(s) back, without touching the dialog itself.
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace qx {

class CFileDlg {
public:
    QString Caption;
    QString InitialDir;
    // Pairs of description and pattern separated by "|":
    // "Vellumo Databases (*.dat)|*.dat|Alle bestanden|*.*".
    QString Filter;
    int FilterIndex = 0;  // 1-based; the first filter for anything out of range
    QString DefaultExt;   // without the "."
    QString DefaultFileName;
    bool MultiSelect = false;
    QWidget* ParentForm = nullptr;
    // Only remembered, the platform places the dialog; a 1 (centre on the
    // owner) becomes 3 when the dialog is shown without an owner.
    long DialogStartupPostition = 2;
    // Save dialog: ask before an existing file is chosen to be overwritten.
    bool OverwritePrompt = false;

    // Modal; true when the user chose a file, false on cancel or failure.
    bool ShowOpen();
    bool ShowSave();

    // Folder of the chosen file(s), without a trailing separator.
    const QString& FilePath() const { return m_filePath; }
    int FileCount() const { return static_cast<int>(m_fileNames.size()); }
    // Name of chosen file `index` (1-based); "" outside 1 .. FileCount().
    QString FileName(int index) const;
    // FilePath, separator and FileName for an index given as text ("1");
    // "" when there is no such file.
    QString FullName(const QString& index) const;

    // Filter as Qt's dialog wants it, one entry per pair:
    // "Text files|*.txt;*.log" -> "Text files (*.txt *.log)".
    QStringList QtNameFilters() const;

    // Stands in for the system dialog: gets the prepared object and whether it
    // is a save dialog, returns the chosen full paths, or nothing for Cancel.
    using Runner = std::function<std::optional<QStringList>(const CFileDlg&, bool save)>;
    // Installs a runner for every CFileDlg (an empty one brings the real
    // dialog back); returns the previous one.
    static Runner SetRunner(Runner runner);

private:
    bool Show(bool save);
    void TakeResult(const QStringList& chosen);

    QString m_filePath;
    QStringList m_fileNames;
};

}  // namespace qx
