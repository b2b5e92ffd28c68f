#include "shell/HelpTopics.h"

#include "shell/frmMain.h"

#include <QAction>
#include <QMenu>
#include <QVariant>
#include <QWidget>

#include <utility>

namespace qx {

namespace {

struct Topic {
    const char* name;
    const char* topic;
};

// Menu items by object name. Items that other parts of the window add name
// themselves; their sections are listed here all the same.
constexpr Topic kMenuTopics[] = {
    {"miOptions", "index.htm#afsluiten"},
    {"miExit", "index.htm#afsluiten"},
    {"miDatabase", "openen.htm#openen"},
    {"miOpen", "openen.htm#openen"},
    {"miReportOnly", "openen.htm#alleen-rapporteren"},
    {"miAnalyse", "controles.htm#controleren"},
    {"miCheckSub0", "controles.htm#snel"},
    {"miCheckSub1", "controles.htm#normaal"},
    {"miCheckSub2", "controles.htm#intensief"},
    {"miCheckSub4", "controles.htm#lege-mappen"},
    {"miCheckSub5", "controles.htm#grote-documenten"},
    {"miReorganize", "onderhoud.htm#reorganiseren"},
    {"miDocuments", "lijst.htm#lijst"},
    {"miDocumentInfo", "lijst.htm#informatie"},
    {"miRemoveDocs", "lijst.htm#verwijderen"},
    {"miPrintList", "lijst.htm#afdrukken"},
    {"miSaveList", "lijst.htm#opslaan"},
    {"actionSaveHtmlReport", "lijst.htm#rapport-html"},
    {"actionSalvage", "salvage.htm#bergen"},
    {"miHelpMain", "index.htm#help"},
    {"miDisplayHelp", "index.htm#help"},
    {"miAbout", "index.htm#over"},
};

// Windows by class, the help browser by its object name.
constexpr Topic kWindowTopics[] = {
    {"qx::frmInformation", "lijst.htm#informatie"},
    {"qx::frmProgress", "controles.htm#voortgang"},
    {"qx::frmReorganize", "onderhoud.htm#reorganiseren"},
    {"qx::frmReorganizePlan", "onderhoud.htm#plan"},
    {"qx::frmCompact", "onderhoud.htm#comprimeren"},
    {"qx::frmAbout", "index.htm#over"},
    {"QPrintPreviewDialog", "lijst.htm#afdrukken"},
};

}  // namespace

QString HelpTopicOf(const QAction* action) {
    if (!action) return {};
    if (const QVariant own = action->property("helpTopic"); own.isValid()) return own.toString();
    const QString name = action->objectName();
    for (const Topic& t : kMenuTopics)
        if (name == QLatin1String(t.name)) return QString::fromLatin1(t.topic);
    return {};
}

QString HelpTopicOfWindow(const QWidget* window) {
    // A dialog a window opened (the print preview of the list) is looked up itself, then its owner.
    for (const QWidget* w = window; w; w = w->parentWidget()) {
        const QLatin1String cls(w->metaObject()->className());
        for (const Topic& t : kWindowTopics)
            if (cls == QLatin1String(t.name)) return QString::fromLatin1(t.topic);
        if (qobject_cast<const frmMain*>(w)) break;
    }
    return QStringLiteral("index.htm");
}

void NameMenuItems(frmMain& window) {
    const std::pair<QAction*, const char*> items[] = {
        {window.miOptions->menuAction(), "miOptions"},
        {window.miExit, "miExit"},
        {window.miDatabase->menuAction(), "miDatabase"},
        {window.miOpen, "miOpen"},
        {window.miReportOnly, "miReportOnly"},
        {window.miAnalyse->menuAction(), "miAnalyse"},
        {window.miReorganize, "miReorganize"},
        {window.miDocuments->menuAction(), "miDocuments"},
        {window.miDocumentInfo, "miDocumentInfo"},
        {window.miRemoveDocs, "miRemoveDocs"},
        {window.miPrintList, "miPrintList"},
        {window.miSaveList, "miSaveList"},
        {window.miHelpMain->menuAction(), "miHelpMain"},
        {window.miDisplayHelp, "miDisplayHelp"},
        {window.miAbout, "miAbout"},
    };
    for (const auto& [action, name] : items)
        if (action && action->objectName().isEmpty()) action->setObjectName(QString::fromLatin1(name));
    for (std::size_t i = 0; i < window.miCheckSub.size(); ++i)
        if (QAction* item = window.miCheckSub[i]; item && !item->isSeparator() && item->objectName().isEmpty())
            item->setObjectName(QStringLiteral("miCheckSub%1").arg(i));
}

}  // namespace qx
