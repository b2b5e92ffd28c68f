#include "windows/CFileDlg.h"

#include "support/HumanFormat.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIdentityProxyModel>

#include <utility>

namespace qx {

namespace {

CFileDlg::Runner& InstalledRunner() {
    static CFileDlg::Runner runner;
    return runner;
}

// "*.txt;*.log" -> "*.txt *.log"; "*.*" means every file on the system the
// filters were written for, where Qt would insist on a dot.
QString QtPatterns(const QString& pattern) {
    QStringList parts;
    for (QString p : pattern.split(u';', Qt::SkipEmptyParts)) {
        p = p.trimmed();
        if (p == QStringLiteral("*.*")) p = QStringLiteral("*");
        if (!p.isEmpty()) parts << p;
    }
    return parts.join(u' ');
}

// Sizes and dates in the file list the Dutch way ("4,88 kB", "7-12-2026
// 19:22:43"): Qt's file model writes them in the system's locale, which is
// often the C locale ("4.88 KiB", "7 Dec 2026").
class DutchFileColumns : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role == Qt::DisplayRole && files && index.isValid()) {
            const QModelIndex source = mapToSource(index);
            if (index.column() == 1 && !files->isDir(source)) return QString::fromStdString(FormatBytes(files->size(source)));
            if (index.column() == 3) {
                const QDateTime when = files->lastModified(source);
                if (when.isValid()) return QString::fromStdString(FormatDateTime(when));
            }
        }
        return QIdentityProxyModel::data(index, role);
    }
};

std::optional<QStringList> RunSystemDialog(const CFileDlg& d, bool save) {
    QFileDialog dialog(d.ParentForm, d.Caption, d.InitialDir);
    // Only Qt's own dialog has a list to show through the proxy; a system
    // dialog speaks the desktop's language itself.
    dialog.setProxyModel(new DutchFileColumns(&dialog));
    const QStringList filters = d.QtNameFilters();
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        const int index = d.FilterIndex >= 1 && d.FilterIndex <= filters.size() ? d.FilterIndex - 1 : 0;
        dialog.selectNameFilter(filters.at(index));
    }
    dialog.setDefaultSuffix(d.DefaultExt);
    if (!d.DefaultFileName.isEmpty()) dialog.selectFile(d.DefaultFileName);
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        // Unless told otherwise, the callers ask before they overwrite anything themselves.
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !d.OverwritePrompt);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(d.MultiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
        dialog.setOption(QFileDialog::DontResolveSymlinks);
    }
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.selectedFiles();
}

}  // namespace

CFileDlg::Runner CFileDlg::SetRunner(Runner runner) { return std::exchange(InstalledRunner(), std::move(runner)); }

QStringList CFileDlg::QtNameFilters() const {
    const QStringList parts = Filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts.at(i).trimmed();
        const QString pattern = parts.at(i + 1).trimmed();
        const QString patterns = QtPatterns(pattern);
        if (description.isEmpty() && patterns.isEmpty()) continue;
        // Descriptions usually repeat their pattern in brackets already; Qt
        // reads the patterns from the last brackets, so those must be its own.
        const QString shown = QStringLiteral("(") + pattern + QStringLiteral(")");
        if (description.endsWith(shown)) description.chop(shown.size());
        description = description.trimmed();
        filters << (description.isEmpty() ? patterns : description + QStringLiteral(" (") + patterns + u')');
    }
    return filters;
}

bool CFileDlg::ShowOpen() { return Show(false); }
bool CFileDlg::ShowSave() { return Show(true); }

bool CFileDlg::Show(bool save) {
    if (DialogStartupPostition == 1 && !ParentForm) DialogStartupPostition = 3;
    m_filePath.clear();
    m_fileNames.clear();
    const std::optional<QStringList> chosen =
        InstalledRunner() ? InstalledRunner()(*this, save) : RunSystemDialog(*this, save);
    if (!chosen || chosen->isEmpty()) return false;
    TakeResult(*chosen);
    return FileCount() > 0;
}

void CFileDlg::TakeResult(const QStringList& chosen) {
    // All files of one choice share a folder: the dialog shows one at a time.
    QString folder = QDir::toNativeSeparators(QFileInfo(chosen.front()).absolutePath());
    while (folder.endsWith(u'/') || folder.endsWith(u'\\')) folder.chop(1);
    m_filePath = folder;
    for (const QString& path : chosen) {
        const QString name = QFileInfo(path).fileName();
        if (!name.isEmpty()) m_fileNames << name;
    }
}

QString CFileDlg::FileName(int index) const {
    return index >= 1 && index <= FileCount() ? m_fileNames.at(index - 1) : QString();
}

QString CFileDlg::FullName(const QString& index) const {
    bool ok = false;
    const int i = index.trimmed().toInt(&ok);
    const QString name = ok ? FileName(i) : QString();
    return name.isEmpty() ? QString() : m_filePath + QDir::separator() + name;
}

}  // namespace qx
