#pragma once
// The printed form of the damaged-document list: a header that says which
// archive, which check and when, column titles repeated on every page, rows
// whose texts wrap inside their column (a long name or folder path is never
// cut at the page edge), and "Pagina N van M" at the foot of each page.
#include "database/MainWindow.h"

#include <QPageLayout>
#include <QString>
#include <QStringList>

#include <vector>

class QPrinter;

namespace qx {

struct PrintoutHeader {
    QString title;
    QString archive;    // full path of the main database
    QString check;      // the check the list came from, as the menu names it
    QString printedAt;  // date and time, already in the reader's format
    QStringList counters;
};

// The orientation in which the rows need the fewest wrapped lines: landscape
// when some name or path would not fit on a portrait line.
QPageLayout::Orientation BestOrientation(QPrinter& printer, const std::vector<ListRow>& rows);

// Paints every page on `printer`; false when the printer refused.
bool PrintDocumentList(QPrinter& printer, const PrintoutHeader& header, const std::vector<ListRow>& rows);

}  // namespace qx
