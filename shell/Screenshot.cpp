#include "shell/Screenshot.h"

#include "database/CheckCommand.h"
#include "database/maintenance/ReorganizePlan.h"
#include "shell/ListPrintout.h"
#include "shell/ReportList.h"
#include "shell/frmMain.h"
#include "support/HumanFormat.h"
#include "support/TextResources.h"
#include "windows/Associated.h"
#include "windows/frmAbout.h"
#include "windows/frmInformation.h"
#include "windows/CFileDlg.h"
#include "windows/MessageBoxes.h"
#include "windows/frmReorganize.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMovie>
#include <QMessageBox>
#include <QPrintPreviewDialog>
#include <QPainter>
#include <QPixmap>
#include <QPrinter>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <optional>
#include <vector>

namespace qx {

namespace {

void Settle(int milliseconds) {
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Save(QWidget& widget, const QString& file) {
    if (widget.grab().save(file)) return true;
    std::fprintf(stderr, "quillex: could not write %s\n", qPrintable(file));
    return false;
}

// Every question answered safely and nothing opened on the desktop while
// it lives; what was installed before comes back after.
struct SafeAnswers {
    MessageBoxAnswerer boxes;
    CFileDlg::Runner dialogs;
    DesktopHooks desktop;
    SafeAnswers() {
        boxes = SetMessageBoxAnswerer([](const MessageBoxRequest& box) {
            std::fprintf(stderr, "quillex: box \"%s\" answered\n", box.title.c_str());
            return NullWindow::SafeAnswer(box.buttons);
        });
        dialogs = CFileDlg::SetRunner([](const CFileDlg&, bool) { return std::optional<QStringList>(); });
        desktop = SetDesktopHooks({[](const QUrl&) { return false; }, [](const QString&) { return QString(); }});
    }
    ~SafeAnswers() {
        SetMessageBoxAnswerer(boxes);
        CFileDlg::SetRunner(dialogs);
        SetDesktopHooks(desktop);
    }
    SafeAnswers(const SafeAnswers&) = delete;
    SafeAnswers& operator=(const SafeAnswers&) = delete;
};

// A real message box as the user sees it: shown modally, pictured once it is
// on screen and closed with its escape answer. The safe answers step aside
// for it and come back after.
bool SaveMessageBox(QWidget& owner, const std::string& text, const std::string& title, const std::string& extra,
                    const QString& file) {
    const MessageBoxAnswerer safe = SetMessageBoxAnswerer({});
    bool saved = false;
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(top);
            if (!box || !box->isVisible()) continue;
            poll.stop();
            Settle(200);
            saved = Save(*box, file);
            if (QAbstractButton* no = box->button(QMessageBox::No)) no->click();
            else box->reject();
            return;
        }
    });
    poll.start();
    ShowMessageBox(&owner, text, MsgButtons::YesNo, MsgIcon::Question, title, extra);
    poll.stop();
    SetMessageBoxAnswerer(safe);
    return saved;
}

// A scanned letter as PNG bytes: a white page with a letterhead and lines of text.
std::vector<std::uint8_t> SamplePage() {
    QImage image(425, 550, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.fillRect(40, 40, 140, 36, QColor(40, 70, 130));
    painter.setPen(QPen(QColor(90, 90, 90), 3));
    for (int y = 120; y < 500; y += 18) painter.drawLine(40, y, y % 90 == 0 ? 260 : 385, y);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace

int RunScreenshots(const QString& outDir, const QString& archive, const QStringList& arguments) {
    const SafeAnswers safe;
    // The printout's date is part of the pictures: one fixed moment, so that a new run changes only what changed.
    const QDateTime printTime = frmMain::SetPrintTime(QDateTime(QDate(2026, 12, 7), QTime(10, 30)));
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "quillex: could not create %s\n", qPrintable(outDir));
        return 1;
    }
    const QDir dir(outDir);
    frmMain window(arguments);
    if (window.LoadRefused()) return 1;
    window.show();
    Settle(300);
    int result = 0;
    if (!archive.isEmpty()) {
        // The pictures change nothing on disk, their open step included.
        window.miReportOnly->setChecked(true);
        window.OpenDatabaseFile(archive.toStdString());
        if (window.State().m_sDatabaseName.empty()) {
            std::fprintf(stderr, "quillex: could not open %s\n", qPrintable(archive));
            result = 1;
        } else {
            window.miCheckSub[CheckNormal]->trigger();
            // The information picture explains a document: the first row that names one.
            for (int i = 0; i < window.lvDocuments->RowCount(); ++i)
                if (!CReportList::Key(window.lvDocuments->Row(i)).isEmpty()) {
                    window.lvDocuments->setCurrentItem(window.lvDocuments->Row(i));
                    break;
                }
        }
    }
    Settle(500);
    if (!Save(window, dir.filePath(QStringLiteral("main.png")))) result = 1;

    // The list as Ctrl+P prints it, to printout.pdf (pdftoppm makes a picture of it).
    if (window.lvDocuments->RowCount() > 0) {
        const QString pdf = dir.filePath(QStringLiteral("printout.pdf"));
        const auto previous = frmMain::SetPrintDialogRunner([&](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return true;
        });
        window.miPrintList->trigger();
        frmMain::SetPrintDialogRunner(previous);
        if (!QFileInfo(pdf).isFile()) result = 1;

        // The print preview Ctrl+P opens, turned as the list needs.
        std::vector<ListRow> rows;
        for (int i = 0; i < window.lvDocuments->RowCount(); ++i)
            rows.push_back(CReportList::RowData(window.lvDocuments->Row(i)));
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setPageOrientation(BestOrientation(printer, rows));
        QPrintPreviewDialog preview(&printer, &window);
        QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &window,
                         [&](QPrinter* target) { window.PrintList(*target); });
        preview.resize(900, 700);
        preview.show();
        Settle(800);
        if (!Save(preview, dir.filePath(QStringLiteral("preview.png")))) result = 1;
        preview.close();
    }

    window.miDocumentInfo->setEnabled(true);
    window.miDocumentInfo->trigger();
    Settle(300);
    if (auto* information = window.findChild<frmInformation*>()) {
        if (!Save(*information, dir.filePath(QStringLiteral("information.png")))) result = 1;
    } else {
        // Without a row to explain: the window as it looks for a finding about a sub database.
        frmInformation empty(&window);
        empty.Initialise(window.Database(), 0, 2, window.State().m_sDatabaseName, "Kantoor_2.pdb");
        empty.show();
        Settle(300);
        if (!Save(empty, dir.filePath(QStringLiteral("information.png")))) result = 1;
    }

    frmAbout about(&window);
    about.show();
    Settle(300);
    if (!Save(about, dir.filePath(QStringLiteral("about.png")))) result = 1;
    about.hide();

    // A question as every box asks it: the one before reorganizing, with its Voorbeeld button.
    if (!SaveMessageBox(window, FormatMsg(GetResString(26, "Resources not found")),
                        GetResString(27, "Resources not found"), "Voorbeeld", dir.filePath(QStringLiteral("message.png"))))
        result = 1;

    // The windows the database logic drives, shown through the same seam it uses.
    ProgressView view;
    view.caption = "Intensieve controle";
    view.currentItem = "Huidig document: Rapport 5563";
    view.countLine = "Totale voortgang: (document 120/263)";
    view.timeElapsed = FormatMsg(GetResString(65, "Verstreken tijd: %s"), {FormatElapsed(12)});
    view.timeLeft = FormatMsg(GetResString(64, "Geschatte resterende tijd: %s"), {FormatElapsed(14)});
    view.cancelText = "Annuleren";
    view.value = 45;
    view.wide = true;
    window.ProgressShow(view);
    // The thorough check's preview: a document decoded the way the check decodes it.
    const std::vector<std::uint8_t> page = SamplePage();
    if (window.LoadImage(page) != 0) std::fprintf(stderr, "quillex: the sample page did not load\n");
    Settle(300);
    const auto grabChild = [&](const char* className, const char* file) {
        for (QWidget* w : window.findChildren<QWidget*>())
            if (w->inherits(className) && w->isVisible()) {
                // A playing clip is held at one frame: the picture must not depend on the moment.
                for (QLabel* screen : w->findChildren<QLabel*>())
                    if (QMovie* clip = screen->movie()) {
                        clip->setPaused(true);
                        clip->jumpToFrame(std::max(0, clip->frameCount() / 2));
                    }
                Settle(100);
                return Save(*w, dir.filePath(QString::fromLatin1(file)));
            }
        std::fprintf(stderr, "quillex: no %s to picture\n", className);
        return false;
    };
    if (!grabChild("qx::frmProgress", "progress.png")) result = 1;
    window.ProgressHide();
    window.CompactShow();
    window.CompactSetStatus("Bezig met comprimeren databestand 2 / 3...");
    ProgressView copying;
    copying.countLine = "Bestand 2 van 3: Archief_2.pdb";
    copying.currentItem = "Gecomprimeerd: 812 MB van 1,71 GB";
    copying.timeElapsed = "Verstreken tijd: 1:12";
    copying.timeLeft = "Geschatte resterende tijd: 1:20";
    copying.value = 474;
    copying.maximum = 1000;
    window.CompactProgress(copying);
    Settle(300);
    if (!grabChild("qx::frmCompact", "compact.png")) result = 1;
    window.CompactClose();
    window.ReorganizeShow();
    window.ReorganizeSetCaption("Bezig met reorganiseren");
    ProgressView moving;
    moving.caption = "Bezig met reorganiseren";
    moving.countLine = "Documenten: 12.480 van 40.113";
    moving.currentItem = "Verplaatst: 1,02 GB van 3,27 GB";
    moving.timeElapsed = "Verstreken tijd: 6:41";
    moving.timeLeft = "Geschatte resterende tijd: 14:45";
    moving.value = 312;
    moving.maximum = 1000;
    window.ReorganizeProgress(moving);
    Settle(300);
    if (!grabChild("qx::frmReorganize", "reorganize.png")) result = 1;
    window.ReorganizeHide();

    // What Voorbeeld shows: the plan of a run started now, worked out without changing anything.
    ReorganizePlan plan;
    if (!window.State().m_sDatabaseName.empty()) window.Database().PlanReorganize(plan);
    frmReorganizePlan shownPlan(
        QString::fromStdString(DescribePlan(plan)).replace(QStringLiteral("\r\n"), QStringLiteral("\n")), &window);
    shownPlan.show();
    Settle(300);
    if (!Save(shownPlan, dir.filePath(QStringLiteral("plan.png")))) result = 1;
    shownPlan.hide();

    // The guide in its own window, as F1 shows it where the desktop has no program for HTML; a
    // page without pictures, so that this picture does not depend on the pictures of the last run.
    if (ShowHelp(&window, QStringLiteral("codes.htm#codes"))) {
        Settle(500);
        if (auto* help = window.findChild<QDialog*>(QStringLiteral("frmHelp"))) {
            if (!Save(*help, dir.filePath(QStringLiteral("help.png")))) result = 1;
            help->close();
        } else {
            result = 1;
        }
    } else {
        result = 1;
    }
    frmMain::SetPrintTime(printTime);
    return result;
}

int RunScreenshot(const QString& outFile, const QString& archive, const QStringList& arguments) {
    const SafeAnswers safe;

    frmMain window(arguments);
    if (window.LoadRefused()) return 1;
    window.show();
    Settle(300);  // the first activation: notice and the offer of the last archive

    int result = 0;
    if (!archive.isEmpty()) {
        // The pictures change nothing on disk, their open step included.
        window.miReportOnly->setChecked(true);
        window.OpenDatabaseFile(archive.toStdString());
        if (window.State().m_sDatabaseName.empty()) {
            std::fprintf(stderr, "quillex: could not open %s\n", qPrintable(archive));
            result = 1;
        }
    }
    Settle(500);

    if (!window.grab().save(outFile)) {
        std::fprintf(stderr, "quillex: could not write %s\n", qPrintable(outFile));
        return 1;
    }
    return result;
}

}  // namespace qx
