#pragma once
// The record grid DBGrid1: a table model over the record table showing six of
// its fields, and the set-up of the read-only view that follows the newest row.

#include "recording/RecordTable.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QPointer>

class QTableView;
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

// Configures `grid` as DBGrid1 over `model`: read-only, whole-row selection, grid
// lines, resizable columns with their widths, fonts, fixed row height, and
// following the table's current row (at most once per event-loop turn, so a burst
// of appends costs one scroll).
void SetupRecordGrid(QTableView* grid, TRecordGridModel* model);

// Shows the "New" question (information icon, Yes and No); true for Yes.
bool AskRecordNew(QWidget* parent);

} // namespace orvex
