// Database > Bergen…: usable only with an archive open; on a damaged sub
// database it salvages, sums up per file and lists the lost documents by
// name; in report-only mode it tells what would come back and changes nothing.
#include "GuiTestSupport.h"
#include "shell/ReportList.h"
#include "shell/frmMain.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "tests/core/TestUtil.h"

#include <QtTest>
#include <QtWidgets>

#include <filesystem>
#include <fstream>
#include <map>

using namespace qx;
using qx::test::BoxScript;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kPage = 16384;  // the archive's cipher page size

// Random bytes over page `page` (1-based): the cipher's page check rejects it.
void DamagePage(const std::string& path, std::int64_t page) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp((page - 1) * kPage);
    std::string junk(kPage, '\0');
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 7919 + 13) & 0xff);
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
}

std::map<std::string, std::string> Folder(const QString& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(dir.toStdString()))
        if (e.path().extension() != ".log") out[e.path().filename().string()] = qx::test::Slurp(e.path().string());
    return out;
}

QAction* SalvageAction(frmMain& w) { return w.findChild<QAction*>(QStringLiteral("actionSalvage")); }

}  // namespace

class tst_frmSalvage : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_archive = 0;

    // A fresh folder with an archive whose first sub database has its data
    // root damaged: every document stored there is lost.
    SampleManifest DamagedArchive(QString& folder) {
        folder = m_dir.filePath(QStringLiteral("a%1").arg(++m_archive));
        QDir().mkpath(folder);
        SampleManifest m = qx::test::WriteArchive(folder, QStringLiteral("Kantoor"), 8);
        if (!m.mainDatabase.empty()) DamagePage(folder.toStdString() + "/Kantoor_1.pdb", 2);
        return m;
    }

private slots:
    void init() { Settings::Reset(); }

    void disabledWithoutAnArchive() {
        BoxScript boxes;
        frmMain w;
        QAction* salvage = SalvageAction(w);
        QVERIFY(salvage);
        QCOMPARE(salvage->text(), QString::fromStdString(GetResString(489, "")));
        QVERIFY(!salvage->isEnabled());
    }

    void salvagesAndListsTheLostDocuments() {
        QString folder;
        const SampleManifest m = DamagedArchive(folder);
        QVERIFY(!m.mainDatabase.empty());
        BoxScript boxes;
        frmMain w;
        w.OpenDatabaseFile(m.mainDatabase);
        QAction* salvage = SalvageAction(w);
        QVERIFY(salvage && salvage->isEnabled());
        boxes.boxes.clear();
        salvage->trigger();

        QCOMPARE(int(boxes.boxes.size()), 1);
        const MessageBoxRequest& box = boxes.boxes.front();
        QCOMPARE(box.title, GetResString(481, ""));
        QCOMPARE(int(box.buttons), int(MsgButtons::OK));
        const QString text = QString::fromStdString(box.text);
        QVERIFY2(text.startsWith(QStringLiteral("Bergen is klaar.")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Kantoor_1.pdb: ")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Kantoor_2.pdb: onbeschadigd")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("ze staan in de lijst met hun naam")), qPrintable(text));
        QVERIFY(fs::exists(folder.toStdString() + "/Kantoor_1.pdb.damaged"));

        // Every lost document is a row with its name, its file and the state "Verloren".
        QVERIFY(w.lvDocuments->RowCount() > 0);
        for (int i = 0; i < w.lvDocuments->RowCount(); ++i) {
            const QTreeWidgetItem* row = w.lvDocuments->Row(i);
            QVERIFY(!row->text(0).isEmpty());
            QCOMPARE(row->text(2), QStringLiteral("Kantoor_1.pdb"));
            QCOMPARE(row->text(3), QStringLiteral("Verloren"));
        }
    }

    void reportOnlyChangesNothing() {
        QString folder;
        const SampleManifest m = DamagedArchive(folder);
        QVERIFY(!m.mainDatabase.empty());
        BoxScript boxes;
        frmMain w;
        w.miReportOnly->setChecked(true);
        w.OpenDatabaseFile(m.mainDatabase);
        const auto was = Folder(folder);
        boxes.boxes.clear();
        SalvageAction(w)->trigger();

        QCOMPARE(int(boxes.boxes.size()), 1);
        const QString text = QString::fromStdString(boxes.boxes.front().text);
        QVERIFY2(text.startsWith(QStringLiteral("Alleen rapporteren: dit zou bergen terughalen.")), qPrintable(text));
        QVERIFY(w.lvDocuments->RowCount() > 0);
        QVERIFY(Folder(folder) == was);
    }
};

QTEST_MAIN(tst_frmSalvage)
#include "tst_frmSalvage.moc"
