#pragma once
// The record grid DBGrid1: a table model over the record table showing six of
// its fields, and the read-only view that follows the newest row.

#include "recording/RecordTable.h"

#include <QAbstractItemView>
#include <QAbstractTableModel>
#include <QCache>
#include <QFont>
#include <QPixmap>
#include <QSet>

#include <functional>

class QHeaderView;
class QWidget;

namespace orvex {

class TRecordGridModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    static constexpr int kColumnCount = 6;

    explicit TRecordGridModel(RecordTable* table, QObject* parent = nullptr);

    // Table field shown in a grid column (No, time, DC/AC, Value, Unit, Auto).
    static int FieldOfColumn(int column);
    // "No", "time", "Function", "Value", "Unit", "Judge".
    static QString ColumnTitle(int column);
    static Qt::Alignment ColumnAlignment(int column);
    // Width in pixels; the Judge column takes 20 characters of `cellFont`.
    static int ColumnWidth(int column, const QFont& cellFont);

    static QFont CellFont();  // Arial, 12 px
    static QFont TitleFont(); // "MS Sans Serif", 11 px
    static QFont UnitFont();  // the LCD symbol font "SEGMO-A2", 12 px

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    RecordTable* table() const { return table_; }

  private:
    void OnRowsAppended(int first, int last);
    void OnReset();

    RecordTable* table_;
    int rows_ = 0;
    QFont unitFont_;
};

// A table view whose rows all have one height.  Where a row lies is computed from
// its number, so the view keeps nothing per row: appending a row costs the same
// with ten rows as with ten million.  It draws like a QTableView with hidden row
// titles and a grid: column titles above, cells through the item delegate, grid
// lines after every row and column, whole-row selection, scrolling by whole rows
// and columns.
//
// Appended rows, a reset and the row to follow are taken in at the next refresh:
// by default once per event-loop turn; SetRefreshScheduler lets the owner decide
// when (it then calls Refresh() itself).  A hidden grid does nothing until shown.
class TRecordGrid : public QAbstractItemView {
    Q_OBJECT
  public:
    explicit TRecordGrid(QWidget* parent = nullptr);
    ~TRecordGrid() override;

    void setModel(QAbstractItemModel* model) override;
    void setSelectionModel(QItemSelectionModel* selectionModel) override;

    QHeaderView* horizontalHeader() const { return titles_; }
    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);
    int columnAt(int x) const;
    int columnViewportPosition(int column) const;

    // Every row has this height (grid line included).
    int rowHeight() const { return rowHeight_; }
    void setRowHeight(int height);
    // The row at viewport coordinate y, -1 when there is none.
    int rowAt(int y) const;
    int rowViewportPosition(int row) const;
    // The first row in view, whole or in part.
    int firstVisibleRow() const;
    // Rows that fit whole into the viewport (at least 1).
    int rowsInViewport() const;

    // Shows `row` as the current, selected row at the next refresh (-1: none).
    void FollowRow(int row);
    // Owner-driven refreshes: `schedule` is called whenever a refresh is due.
    void SetRefreshScheduler(std::function<void()> schedule);
    // Takes in what changed since the last refresh: row count, scroll range, the
    // row to follow.  Does nothing while the grid is hidden.
    void Refresh();
    bool RefreshPending() const { return geometryDirty_ || followPending_; }

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void reset() override;

    // Cells drawn from the cache of drawn cells / drawn afresh since the grid was made.
    long long cachedCells() const { return cachedCells_; }
    long long drawnCells() const { return drawnCells_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void initViewItemOption(QStyleOptionViewItem* option) const override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;

  private:
    void ScheduleRefresh();
    // Takes the scroll bars' positions into the titles' and the rows' offsets.
    void SyncOffsets();
    void DrawCell(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                  bool selected) const;
    // Draws a cell of one line of plain text (`text`, its display text) as the
    // item delegate would, faster; false when the cell needs the delegate.
    bool DrawPlainCell(QPainter* painter, const QStyleOptionViewItem& option,
                       const QModelIndex& index, const QString& text) const;
    int RowCount() const;
    void ColumnResized();

    // A drawn cell, by what decides its look.  Every role of the record grid's
    // model but the text is the same for a whole column.
    struct CellKey {
        int column;
        QString text;
        int state;
        int colourGroup;
        QSize size;
        qreal ratio; // device pixels per pixel
        bool operator==(const CellKey& o) const {
            return column == o.column && state == o.state && colourGroup == o.colourGroup &&
                   size == o.size && ratio == o.ratio && text == o.text;
        }
        friend size_t qHash(const CellKey& k, size_t seed = 0) {
            return qHashMulti(seed, k.column, k.text, k.state, k.colourGroup, k.size.width(),
                              k.size.height(), k.ratio);
        }
    };

    QHeaderView* titles_;
    bool cacheCells_ = false;     // over a TRecordGridModel
    bool plainCellsHere_ = false; // DrawPlainCell draws as this style would
    mutable QCache<CellKey, QPixmap> cells_;
    // Looks drawn once so far (by hash): only a look that comes back is cached.
    mutable QSet<size_t> seenOnce_;
    mutable long long cachedCells_ = 0;
    mutable long long drawnCells_ = 0;
    int rowHeight_ = 16;
    int yOffset_ = 0; // pixels of rows above the viewport
    int followRow_ = -1;
    bool followPending_ = false;
    bool geometryDirty_ = false;
    int shownRows_ = 0; // the rows the viewport knew at the last refresh
    bool refreshQueued_ = false;
    std::function<void()> scheduler_;
};

// Configures `grid` as DBGrid1 over `model`: read-only, whole-row selection, grid
// lines, resizable columns with their widths, fonts, row height, and following
// the table's current row (at most once per refresh, so a burst of appends costs
// one scroll).
void SetupRecordGrid(TRecordGrid* grid, TRecordGridModel* model);

// Shows the "New" question (information icon, Yes and No); true for Yes.
bool AskRecordNew(QWidget* parent);

} // namespace orvex
