#include "recording/RecordGrid.h"

#include "recording/Recorder.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QProxyStyle>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>

namespace orvex {

namespace {

constexpr int kColumnFields[TRecordGridModel::kColumnCount] = {FieldNo,    FieldTime, FieldDcAc,
                                                               FieldValue, FieldUnit, FieldAuto};
const char* const kColumnTitles[TRecordGridModel::kColumnCount] = {"No",    "time", "Function",
                                                                   "Value", "Unit", "Judge"};
constexpr int kFixedWidths[TRecordGridModel::kColumnCount] = {53, 50, 70, 56, 35, 0};

// A regular font of that pixel height.  Weight and style are set, not left open,
// so the grid does not take them from the bold window font around it.
QFont PixelFont(const QString& family, int pixels) {
    QFont font(family);
    font.setPixelSize(pixels);
    font.setWeight(QFont::Normal);
    font.setStyle(QFont::StyleNormal);
    return font;
}

// The cells keep one pixel of margin on each side instead of the style's three,
// as the classic grid does, so that a time of day fits its 50 pixels and
// "Temperature" its 70.
class TNarrowCellStyle : public QProxyStyle {
  public:
    TNarrowCellStyle() : QProxyStyle(QApplication::style()->name()) {}
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_FocusFrameHMargin) return 0;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// Moves the view to the table's current row, once per event-loop turn.
class GridFollower : public QObject {
  public:
    GridFollower(QTableView* grid, TRecordGridModel* model) : QObject(grid), grid_(grid) {
        connect(model->table(), &RecordTable::currentRowChanged, this, &GridFollower::Schedule);
    }

  private:
    void Schedule(int row) {
        row_ = row;
        if (pending_) return;
        pending_ = true;
        QTimer::singleShot(0, this, &GridFollower::Follow);
    }
    void Follow() {
        pending_ = false;
        QAbstractItemModel* model = grid_->model();
        if (!model) return;
        QItemSelectionModel* selection = grid_->selectionModel();
        if (row_ < 0 || row_ >= model->rowCount()) {
            if (selection) selection->clear();
            return;
        }
        const QModelIndex index = model->index(row_, 0);
        if (selection)
            selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
        grid_->scrollTo(index, QAbstractItemView::EnsureVisible);
    }

    QTableView* grid_;
    int row_ = -1;
    bool pending_ = false;
};

// The rows tile the space below the titles: when the grid follows the newest row,
// Qt puts that row flush with the bottom edge, and only rows that tile the space
// leave the first visible row whole as well.  The row height is the cell font's
// height plus a margin of 2 to 6 pixels, the one leaving the smallest strip; the
// title row takes up that strip.
void TileRows(QTableView* grid, const QFont& cellFont) {
    QHeaderView* titles = grid->horizontalHeader();
    const int titleHeight = titles->sizeHint().height();
    const int scrollBar = grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr,
                                                     grid->horizontalScrollBar());
    const int space = grid->height() - 2 * grid->frameWidth() - titleHeight - scrollBar;
    const int text = QFontMetrics(cellFont).height();
    if (space < text) return; // not laid out yet: keep the plain row height
    int best = text + 4;
    for (int margin = 2; margin <= 6; ++margin)
        if (space % (text + margin) < space % best) best = text + margin;
    grid->verticalHeader()->setDefaultSectionSize(best);
    titles->setFixedHeight(titleHeight + space % best);
}

} // namespace

TRecordGridModel::TRecordGridModel(RecordTable* table, QObject* parent)
    : QAbstractTableModel(parent), table_(table), rows_(table->rowCount()), unitFont_(UnitFont()) {
    connect(table_, &RecordTable::rowsAppended, this, &TRecordGridModel::OnRowsAppended);
    connect(table_, &RecordTable::reset, this, &TRecordGridModel::OnReset);
}

int TRecordGridModel::FieldOfColumn(int column) {
    return column >= 0 && column < kColumnCount ? kColumnFields[column] : -1;
}

QString TRecordGridModel::ColumnTitle(int column) {
    return column >= 0 && column < kColumnCount ? QString::fromLatin1(kColumnTitles[column])
                                                : QString();
}

Qt::Alignment TRecordGridModel::ColumnAlignment(int column) {
    switch (column) {
    case 1:
    case 2:
        return Qt::AlignHCenter | Qt::AlignVCenter;
    case 3:
    case 4:
        return Qt::AlignRight | Qt::AlignVCenter;
    default:
        return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

int TRecordGridModel::ColumnWidth(int column, const QFont& cellFont) {
    if (column < 0 || column >= kColumnCount) return 0;
    if (kFixedWidths[column] > 0) return kFixedWidths[column];
    const QFontMetrics metrics(cellFont);
    return metrics.horizontalAdvance(QLatin1Char('0')) * RecordTable::kTextWidth + 4;
}

QFont TRecordGridModel::CellFont() {
    return PixelFont(QStringLiteral("Arial"), 12);
}
QFont TRecordGridModel::TitleFont() {
    return PixelFont(QStringLiteral("MS Sans Serif"), 11);
}
QFont TRecordGridModel::UnitFont() {
    return PixelFont(QStringLiteral("SEGMO-A2"), 12);
}

int TRecordGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int TRecordGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant TRecordGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_) return {};
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return table_->Text(index.row(), FieldOfColumn(column));
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(ColumnAlignment(column));
    case Qt::FontRole:
        if (column == 4) return unitFont_;
        return {};
    default:
        return {};
    }
}

QVariant TRecordGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) return ColumnTitle(section);
    return {};
}

Qt::ItemFlags TRecordGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void TRecordGridModel::OnRowsAppended(int first, int last) {
    if (first != rows_ || last < first) { // out of step: start over
        OnReset();
        return;
    }
    beginInsertRows({}, first, last);
    rows_ = last + 1;
    endInsertRows();
}

void TRecordGridModel::OnReset() {
    beginResetModel();
    rows_ = table_->rowCount();
    endResetModel();
}

void SetupRecordGrid(QTableView* grid, TRecordGridModel* model) {
    grid->setObjectName(QStringLiteral("DBGrid1"));
    grid->setModel(model);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setShowGrid(true);
    grid->setWordWrap(false);
    grid->setCornerButtonEnabled(false);
    grid->setSortingEnabled(false);
    // Scrolls by whole rows; with the tiling rows below, no visible row is ever cut.
    grid->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);

    const QFont cellFont = TRecordGridModel::CellFont();
    grid->setFont(cellFont);
    auto* cellStyle = new TNarrowCellStyle;
    cellStyle->setParent(grid);
    grid->setStyle(cellStyle);
    grid->setTextElideMode(Qt::ElideNone);

    QHeaderView* titles = grid->horizontalHeader();
    titles->setFont(TRecordGridModel::TitleFont());
    titles->setSectionResizeMode(QHeaderView::Interactive);
    titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    titles->setHighlightSections(false);
    titles->setStretchLastSection(false);
    for (int c = 0; c < TRecordGridModel::kColumnCount; ++c)
        grid->setColumnWidth(c, TRecordGridModel::ColumnWidth(c, cellFont));

    // One fixed row height: the view never measures rows, whatever their number.
    QHeaderView* rows = grid->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(QFontMetrics(cellFont).height() + 4);
    rows->hide();
    // The horizontal scroll bar always takes its place, so the rows keep tiling the
    // space left to them whatever the column widths.
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    TileRows(grid, cellFont);

    new GridFollower(grid, model);
}

bool AskRecordNew(QWidget* parent) {
    QMessageBox box(QMessageBox::Information, QString(), QString::fromLatin1(kRecordNewQuestion),
                    QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}

} // namespace orvex
