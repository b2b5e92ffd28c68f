#include "shell/ListPrintout.h"

#include "support/TextResources.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>
#include <QTextLayout>

#include <algorithm>
#include <array>

namespace qx {

namespace {

constexpr int kColumns = 5;
enum Column { State, Name, Location, SubDatabase, Code };

QString Res(long id, const char* def) { return QString::fromStdString(GetResString(id, def)); }

std::array<QString, kColumns> Titles() {
    return {Res(18, "Status"), Res(15, "Naam"), Res(16, "Locatie"), Res(17, "Subdatabase"), Res(313, "Code")};
}

std::array<QString, kColumns> Cells(const ListRow& row) {
    const auto sub = [&](std::size_t i) {
        return i < row.subItems.size() ? QString::fromStdString(row.subItems[i]) : QString();
    };
    return {sub(2), QString::fromStdString(row.text), sub(0), sub(1), QString::number(row.tag)};
}

QFont BodyFont() { return QFont(QStringLiteral("Sans Serif"), 9); }
QFont BoldFont(int points) {
    QFont font(QStringLiteral("Sans Serif"), points);
    font.setBold(true);
    return font;
}

// Lays `text` out in lines of `width`, breaking between words where it can
// and inside a word where it must; draws it at `at` when a painter is given.
// Returns the height used.
qreal LayOut(const QString& text, const QFont& font, QPaintDevice* device, qreal width, QPainter* painter = nullptr,
             QPointF at = {}) {
    QTextLayout layout(text, font, device);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    if (painter) layout.draw(painter, at);
    return std::max(y, QFontMetricsF(font, device).height());
}

std::array<qreal, kColumns> NaturalWidths(QPaintDevice* device, const std::vector<ListRow>& rows) {
    const QFontMetricsF body(BodyFont(), device);
    const QFontMetricsF bold(BoldFont(9), device);
    std::array<qreal, kColumns> widths{};
    const auto titles = Titles();
    for (int c = 0; c < kColumns; ++c) widths[c] = bold.horizontalAdvance(titles[c]);
    for (const ListRow& row : rows) {
        const auto cells = Cells(row);
        for (int c = 0; c < kColumns; ++c) widths[c] = std::max(widths[c], body.horizontalAdvance(cells[c]));
    }
    // Room for rounding between measuring and drawing.
    for (qreal& w : widths) w += body.averageCharWidth() / 2;
    return widths;
}

qreal Gap(QPaintDevice* device) { return QFontMetricsF(BodyFont(), device).averageCharWidth() * 2; }

// Short columns get what they need (up to a share of the page); name and
// location share the rest, the location wrapping first.
std::array<qreal, kColumns> ColumnWidths(QPaintDevice* device, qreal page, const std::vector<ListRow>& rows) {
    std::array<qreal, kColumns> natural = NaturalWidths(device, rows);
    std::array<qreal, kColumns> w{};
    w[State] = std::min(natural[State], page * 0.2);
    w[SubDatabase] = std::min(natural[SubDatabase], page * 0.2);
    w[Code] = std::min(natural[Code], page * 0.1);
    const qreal rest = std::max(page - w[State] - w[SubDatabase] - w[Code] - (kColumns - 1) * Gap(device), page * 0.3);
    if (natural[Name] + natural[Location] <= rest) {
        w[Name] = natural[Name];
    } else {
        w[Name] = std::min(natural[Name], std::max(rest * 0.45, rest - natural[Location]));
    }
    w[Location] = rest - w[Name];
    return w;
}

qreal PageWidth(QPrinter& printer, QPageLayout::Orientation orientation) {
    QPageLayout layout = printer.pageLayout();
    layout.setOrientation(orientation);
    return layout.paintRectPixels(printer.resolution()).width();
}

}  // namespace

QPageLayout::Orientation BestOrientation(QPrinter& printer, const std::vector<ListRow>& rows) {
    const std::array<qreal, kColumns> natural = NaturalWidths(&printer, rows);
    qreal needed = (kColumns - 1) * Gap(&printer);
    for (qreal w : natural) needed += w;
    return needed > PageWidth(printer, QPageLayout::Portrait) ? QPageLayout::Landscape : QPageLayout::Portrait;
}

bool PrintDocumentList(QPrinter& printer, const PrintoutHeader& header, const std::vector<ListRow>& rows) {
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    QPaintDevice* device = &printer;
    const QRectF page = painter.viewport();
    const qreal width = page.width();
    const std::array<qreal, kColumns> widths = ColumnWidths(device, width, rows);
    const qreal gap = Gap(device);
    const QFont body = BodyFont();
    const QFont bold = BoldFont(9);
    const QFont title = BoldFont(12);
    const qreal line = QFontMetricsF(body, device).height();

    QStringList lines;
    const auto filled = [](long id, const char* def, const QString& value) {
        return QString::fromStdString(FormatMsg(GetResString(id, def), {value.toStdString()}));
    };
    lines << filled(308, "Archief: %s", header.archive) << filled(309, "Controle: %s", header.check)
          << filled(311, "Afgedrukt op: %s", header.printedAt) << header.counters.join(QStringLiteral("    "));
    const auto headerHeight = [&](QPainter* p) {
        qreal y = LayOut(header.title, title, device, width, p, QPointF(0, 0)) + line / 2;
        for (const QString& text : lines) y += LayOut(text, body, device, width, p, QPointF(0, y));
        return y + line;
    };
    const auto titles = Titles();
    const auto rowHeight = [&](const std::array<QString, kColumns>& cells, const QFont& font, QPainter* p, qreal top) {
        qreal x = 0, height = 0;
        for (int c = 0; c < kColumns; ++c) {
            height = std::max(height, LayOut(cells[c], font, device, widths[c], p, QPointF(x, top)));
            x += widths[c] + gap;
        }
        return height;
    };
    const qreal titlesHeight = rowHeight(titles, bold, nullptr, 0) + line / 3;
    const qreal footer = line * 2;
    const qreal bottom = page.height() - footer;

    // Pages first, so that every page can say how many there are.
    std::vector<qreal> heights;
    heights.reserve(rows.size());
    for (const ListRow& row : rows) heights.push_back(rowHeight(Cells(row), body, nullptr, 0) + line / 4);
    std::vector<std::size_t> pageStarts{0};
    qreal y = headerHeight(nullptr) + titlesHeight;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (y + heights[i] > bottom && y > titlesHeight + 1 && i != pageStarts.back()) {
            pageStarts.push_back(i);
            y = titlesHeight;
        }
        y += heights[i];
    }
    const int pages = static_cast<int>(pageStarts.size());

    for (int p = 0; p < pages; ++p) {
        if (p > 0 && !printer.newPage()) return false;
        y = p == 0 ? headerHeight(&painter) : 0;
        rowHeight(titles, bold, &painter, y);
        y += titlesHeight;
        painter.drawLine(QPointF(0, y - line / 6), QPointF(width, y - line / 6));
        const std::size_t end = p + 1 < pages ? pageStarts[p + 1] : rows.size();
        for (std::size_t i = pageStarts[p]; i < end; ++i) {
            rowHeight(Cells(rows[i]), body, &painter, y);
            y += heights[i];
        }
        const QString number = QString::fromStdString(
            FormatMsg(GetResString(310, "Pagina %s van %s"), {std::to_string(p + 1), std::to_string(pages)}));
        painter.setFont(body);
        painter.drawText(QRectF(0, page.height() - line, width, line), Qt::AlignRight | Qt::AlignVCenter, number);
    }
    return painter.end();
}

}  // namespace qx
