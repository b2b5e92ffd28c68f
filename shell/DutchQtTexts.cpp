#include "shell/DutchQtTexts.h"

#include "support/HumanFormat.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <clocale>
#include <cstring>

namespace qx {

namespace {

struct Text {
    const char* context;
    const char* source;
    const char* dutch;
};

// The Qt strings of the dialogs and boxes the program shows: the file
// dialog, message boxes and button rows, the print dialog and its preview,
// and the edit menu of text fields. Qt's own Dutch translation leaves some
// of them English ("Folder", the double-sided printing choices) and may not
// be installed at all.
constexpr Text kTexts[] = {
    {"QAbstractFileIconProvider", "Folder", "Map"},
    {"QAbstractFileIconProvider", "Drive", "Station"},
    {"QAbstractFileIconProvider", "File", "Bestand"},
    {"QAbstractFileIconProvider", "%1 File", "%1-bestand"},
    {"QFileDialog", "Look in:", "Zoeken in:"},
    {"QFileDialog", "Back", "Terug"},
    {"QFileDialog", "Go back", "Ga terug"},
    {"QFileDialog", "Forward", "Verder"},
    {"QFileDialog", "Go forward", "Ga verder"},
    {"QFileDialog", "Parent Directory", "Hogere map"},
    {"QFileDialog", "Go to the parent directory", "Ga naar de hogere map"},
    {"QFileDialog", "Create New Folder", "Nieuwe map aanmaken"},
    {"QFileDialog", "Create a New Folder", "Een nieuwe map aanmaken"},
    {"QFileDialog", "List View", "Lijstweergave"},
    {"QFileDialog", "Change to list view mode", "Naar lijstweergave"},
    {"QFileDialog", "Detail View", "Detailweergave"},
    {"QFileDialog", "Change to detail view mode", "Naar detailweergave"},
    {"QFileDialog", "Sidebar", "Zijbalk"},
    {"QFileDialog", "List of places and bookmarks", "Plaatsen en bladwijzers"},
    {"QFileDialog", "Files", "Bestanden"},
    {"QFileDialog", "Files of type:", "Bestanden van type:"},
    {"QFileDialog", "File &name:", "Bestands&naam:"},
    {"QFileDialog", "&Open", "&Openen"},
    {"QFileDialog", "&Save", "Op&slaan"},
    {"QFileDialog", "&Choose", "&Kiezen"},
    {"QFileDialog", "All Files (*)", "Alle bestanden (*)"},
    {"QFileDialog", "Show ", "Tonen "},
    {"QFileDialog", "&Rename", "He&rnoemen"},
    {"QFileDialog", "&Delete", "Verwij&deren"},
    {"QFileDialog", "Show &hidden files", "Ver&borgen bestanden tonen"},
    {"QFileDialog", "&New Folder", "&Nieuwe map"},
    {"QFileDialog", "New Folder", "Nieuwe map"},
    {"QFileDialog", "Open", "Openen"},
    {"QFileDialog", "Save As", "Opslaan als"},
    {"QFileDialog", "Directory:", "Map:"},
    {"QFileDialog", "My Computer", "Deze computer"},
    {"QFileDialog", "Recent Places", "Recente locaties"},
    {"QFileDialog", "%1 already exists.\nDo you want to replace it?", "%1 bestaat al.\nWilt u het vervangen?"},
    {"QFileDialog",
     "%1\nFile not found.\nPlease verify the correct file name was given.",
     "%1\nBestand niet gevonden.\nControleer of de juiste bestandsnaam is opgegeven."},
    {"QFileDialog", "Are you sure you want to delete '%1'?", "Weet u zeker dat u '%1' wilt verwijderen?"},
    {"QFileSystemModel", "Name", "Naam"},
    {"QFileSystemModel", "Size", "Grootte"},
    {"QFileSystemModel", "Type", "Type"},
    {"QFileSystemModel", "Kind", "Soort"},
    {"QFileSystemModel", "Date Modified", "Datum gewijzigd"},
    {"QFileSystemModel", "Computer", "Computer"},
    {"QPlatformTheme", "OK", "OK"},
    {"QPlatformTheme", "Cancel", "Annuleren"},
    {"QPlatformTheme", "Open", "Openen"},
    {"QPlatformTheme", "Save", "Opslaan"},
    {"QPlatformTheme", "Close", "Sluiten"},
    {"QPlatformTheme", "&Yes", "&Ja"},
    {"QPlatformTheme", "&No", "&Nee"},
    {"QPlatformTheme", "Yes to &All", "Ja, &alles"},
    {"QPlatformTheme", "N&o to All", "N&ee, niets"},
    {"QPlatformTheme", "Abort", "Afbreken"},
    {"QPlatformTheme", "Retry", "Opnieuw"},
    {"QPlatformTheme", "Ignore", "Negeren"},
    {"QPlatformTheme", "Apply", "Toepassen"},
    {"QPlatformTheme", "Help", "Help"},
    {"QPlatformTheme", "Discard", "Verwerpen"},
    {"QPlatformTheme", "Reset", "Herstellen"},
    {"QPlatformTheme", "Restore Defaults", "Standaardwaarden"},
    {"QMessageBox", "Show Details...", "Details tonen..."},
    {"QMessageBox", "Hide Details...", "Details verbergen..."},
    {"QLineEdit", "&Undo", "&Ongedaan maken"},
    {"QLineEdit", "&Redo", "Opnie&uw"},
    {"QLineEdit", "Cu&t", "Kni&ppen"},
    {"QLineEdit", "&Copy", "&Kopiëren"},
    {"QLineEdit", "&Paste", "P&lakken"},
    {"QLineEdit", "Delete", "Verwijderen"},
    {"QLineEdit", "Select All", "Alles selecteren"},
    {"QWidgetTextControl", "&Copy", "&Kopiëren"},
    {"QWidgetTextControl", "Copy &Link Location", "&Koppeling kopiëren"},
    {"QWidgetTextControl", "Select All", "Alles selecteren"},
    {"QPrintDialog", "Print", "Afdrukken"},
    {"QPrintDialog", "&Print", "A&fdrukken"},
    {"QPrintDialog", "&Options >>", "&Opties >>"},
    {"QPrintDialog", "&Options <<", "&Opties <<"},
    {"QPrintDialog", "Print to File (PDF)", "Naar bestand afdrukken (PDF)"},
    {"QPrintDialog", "Local file", "Lokaal bestand"},
    {"QPrintDialog", "Write PDF file", "PDF-bestand schrijven"},
    {"QPrintDialog", "All Pages", "Alle pagina's"},
    {"QPrintDialog", "Odd Pages", "Oneven pagina's"},
    {"QPrintDialog", "Even Pages", "Even pagina's"},
    {"QPrintDialog", "Left to Right, Top to Bottom", "Links naar rechts, boven naar onder"},
    {"QPrintDialog", "Left to Right, Bottom to Top", "Links naar rechts, onder naar boven"},
    {"QPrintDialog", "Right to Left, Bottom to Top", "Rechts naar links, onder naar boven"},
    {"QPrintDialog", "Right to Left, Top to Bottom", "Rechts naar links, boven naar onder"},
    {"QPrintDialog", "Bottom to Top, Left to Right", "Onder naar boven, links naar rechts"},
    {"QPrintDialog", "Bottom to Top, Right to Left", "Onder naar boven, rechts naar links"},
    {"QPrintDialog", "Top to Bottom, Left to Right", "Boven naar onder, links naar rechts"},
    {"QPrintDialog", "Top to Bottom, Right to Left", "Boven naar onder, rechts naar links"},
    {"QPrintWidget", "Printer", "Printer"},
    {"QPrintWidget", "&Name:", "&Naam:"},
    {"QPrintWidget", "P&roperties", "&Eigenschappen"},
    {"QPrintWidget", "Location:", "Locatie:"},
    {"QPrintWidget", "Preview", "Voorbeeld"},
    {"QPrintWidget", "Type:", "Type:"},
    {"QPrintWidget", "Output &file:", "&Uitvoerbestand:"},
    {"QPrintSettingsOutput", "Print range", "Afdrukbereik"},
    {"QPrintSettingsOutput", "Print all", "Alles afdrukken"},
    {"QPrintSettingsOutput", "Pages from", "Pagina's vanaf"},
    {"QPrintSettingsOutput", "to", "tot"},
    {"QPrintSettingsOutput", "Pages", "Pagina's"},
    {"QPrintSettingsOutput",
     "Specify pages or ranges separated by commas. Ranges are specified by two numbers separated by a hyphen. "
     "E.g: 3,5-7,9 prints pages 3, 5, 6, 7 and 9.",
     "Geef pagina's of reeksen op, gescheiden door komma's; een reeks is twee getallen met een streepje ertussen. "
     "Bijvoorbeeld 3,5-7,9 drukt de pagina's 3, 5, 6, 7 en 9 af."},
    {"QPrintSettingsOutput", "Current Page", "Huidige pagina"},
    {"QPrintSettingsOutput", "Selection", "Selectie"},
    {"QPrintSettingsOutput", "Page Set:", "Paginaset:"},
    {"QPrintSettingsOutput", "Output Settings", "Uitvoerinstellingen"},
    {"QPrintSettingsOutput", "Copies:", "Kopieën:"},
    {"QPrintSettingsOutput", "Collate", "Sorteren"},
    {"QPrintSettingsOutput", "Reverse", "Omgekeerd"},
    {"QPrintSettingsOutput", "Copies", "Kopieën"},
    {"QPrintSettingsOutput", "Color Mode", "Kleurmodus"},
    {"QPrintSettingsOutput", "Color", "Kleur"},
    {"QPrintSettingsOutput", "Grayscale", "Grijswaarden"},
    {"QPrintSettingsOutput", "Double Sided Printing", "Dubbelzijdig afdrukken"},
    {"QPrintSettingsOutput", "Off", "Uit"},
    {"QPrintSettingsOutput", "Long side binding", "Binden aan de lange kant"},
    {"QPrintSettingsOutput", "Short side binding", "Binden aan de korte kant"},
    {"QPrintSettingsOutput", "Options", "Opties"},
    {"QPageSetupWidget", "Paper", "Papier"},
    {"QPageSetupWidget", "Page size:", "Paginaformaat:"},
    {"QPageSetupWidget", "Width:", "Breedte:"},
    {"QPageSetupWidget", "Height:", "Hoogte:"},
    {"QPageSetupWidget", "Paper source:", "Papierbron:"},
    {"QPageSetupWidget", "Orientation", "Oriëntatie"},
    {"QPageSetupWidget", "Portrait", "Staand"},
    {"QPageSetupWidget", "Landscape", "Liggend"},
    {"QPageSetupWidget", "Reverse landscape", "Omgekeerd liggend"},
    {"QPageSetupWidget", "Reverse portrait", "Omgekeerd staand"},
    {"QPageSetupWidget", "Margins", "Marges"},
    {"QPageSetupWidget", "top margin", "bovenmarge"},
    {"QPageSetupWidget", "left margin", "linkermarge"},
    {"QPageSetupWidget", "right margin", "rechtermarge"},
    {"QPageSetupWidget", "bottom margin", "ondermarge"},
    {"QPageSetupWidget", "Points (pt)", "Punten (pt)"},
    {"QPageSetupWidget", "Page Layout", "Pagina-indeling"},
    {"QPageSetupWidget", "Page order:", "Paginavolgorde:"},
    {"QPageSetupWidget", "Pages per sheet:", "Pagina's per vel:"},
    {"QPageSetupWidget", "Custom", "Aangepast"},
    {"QPrintPreviewDialog", "Print Preview", "Afdrukvoorbeeld"},
    {"QPrintPreviewDialog", "Next page", "Volgende pagina"},
    {"QPrintPreviewDialog", "Previous page", "Vorige pagina"},
    {"QPrintPreviewDialog", "First page", "Eerste pagina"},
    {"QPrintPreviewDialog", "Last page", "Laatste pagina"},
    {"QPrintPreviewDialog", "Fit width", "Passend in de breedte"},
    {"QPrintPreviewDialog", "Fit page", "Passend in de pagina"},
    {"QPrintPreviewDialog", "Zoom in", "Inzoomen"},
    {"QPrintPreviewDialog", "Zoom out", "Uitzoomen"},
    {"QPrintPreviewDialog", "Portrait", "Staand"},
    {"QPrintPreviewDialog", "Landscape", "Liggend"},
    {"QPrintPreviewDialog", "Show single page", "Eén pagina tonen"},
    {"QPrintPreviewDialog", "Show facing pages", "Twee pagina's naast elkaar tonen"},
    {"QPrintPreviewDialog", "Show overview of all pages", "Overzicht van alle pagina's tonen"},
    {"QPrintPreviewDialog", "Print", "Afdrukken"},
    {"QPrintPreviewDialog", "Page setup", "Pagina-instellingen"},
    {"QPrintPreviewDialog", "Page Setup", "Pagina-instellingen"},
};

class DutchFallback : public QTranslator {
public:
    using QTranslator::QTranslator;
    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override {
        return DutchQtText(context, sourceText);
    }
    bool isEmpty() const override { return false; }
};

}  // namespace

QString DutchQtText(const char* context, const char* sourceText) {
    if (!context || !sourceText) return {};
    for (const Text& t : kTexts)
        if (std::strcmp(t.context, context) == 0 && std::strcmp(t.source, sourceText) == 0)
            return QString::fromUtf8(t.dutch);
    return {};
}

bool InstallDutchQtTexts(QCoreApplication& app, const QString& folder) {
    // Installed first, asked last: Qt's translation, where present, speaks first.
    QCoreApplication::installTranslator(new DutchFallback(&app));
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::Dutch, QLocale::Netherlands), QStringLiteral("qtbase"), QStringLiteral("_"),
                          folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder)) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

void UseDutchFormats() {
    QLocale::setDefault(UserLocale());
    // QCoreApplication set the C library to the user's locale; printf and
    // strtod must keep the point whatever the user's language.
    std::setlocale(LC_NUMERIC, "C");
}

}  // namespace qx
