#include "recording/RecordGrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

using namespace orvex;

namespace {

RecordRow Reading(int no, const QString& value, const QString& unit = "V") {
    RecordRow row;
    row.fields[FieldNo] = FieldValue::Int(no);
    row.fields[FieldTime] = FieldValue::Text("10:20:30");
    row.fields[FieldDcAc] = FieldValue::Text("DC");
    row.fields[FieldValue] = FieldValue::Text(value);
    row.fields[FieldUnit] = FieldValue::Text(unit);
    row.fields[FieldAuto] = FieldValue::Text("Pass");
    row.fields[FieldNVal] = FieldValue::Int(no * 10);
    return row;
}

// Lets the once-per-turn follower run.
void Settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

} // namespace

TEST(RecordGridModel, ColumnsTitlesAlignmentsAndCells) {
    RecordTable table;
    TRecordGridModel model(&table);
    EXPECT_EQ(model.columnCount(), 6);
    struct Column {
        const char* title;
        int field;
        Qt::Alignment horizontal;
    } columns[] = {{"No", FieldNo, Qt::AlignLeft},
                   {"time", FieldTime, Qt::AlignHCenter},
                   {"Function", FieldDcAc, Qt::AlignHCenter},
                   {"Value", FieldValue, Qt::AlignRight},
                   {"Unit", FieldUnit, Qt::AlignRight},
                   {"Judge", FieldAuto, Qt::AlignLeft}};
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(model.headerData(c, Qt::Horizontal).toString(), columns[c].title);
        EXPECT_EQ(TRecordGridModel::FieldOfColumn(c), columns[c].field);
        EXPECT_EQ(TRecordGridModel::ColumnAlignment(c) & Qt::AlignHorizontal_Mask,
                  columns[c].horizontal)
            << c;
    }

    table.Append(Reading(7, "1.2345", "K*"));
    RecordRow sparse;
    sparse.fields[FieldValue] = FieldValue::Text("0L.");
    table.Append(sparse);
    ASSERT_EQ(model.rowCount(), 2);
    const char* cells[] = {"7", "10:20:30", "DC", "1.2345", "K*", "Pass"};
    for (int c = 0; c < 6; ++c) {
        const QModelIndex index = model.index(0, c);
        EXPECT_EQ(model.data(index).toString(), cells[c]) << c;
        EXPECT_EQ(model.data(index, Qt::TextAlignmentRole).value<Qt::Alignment>(),
                  TRecordGridModel::ColumnAlignment(c));
        EXPECT_FALSE(model.flags(index) & Qt::ItemIsEditable);
    }
    // NVal is not shown; empty fields show nothing.
    EXPECT_EQ(model.data(model.index(1, 0)).toString(), QString());
    EXPECT_EQ(model.data(model.index(1, 3)).toString(), "0L.");
    EXPECT_EQ(model.data(model.index(1, 5)).toString(), QString());
    // The unit column is in the LCD symbol font, the others in the view's font.
    const QFont unit = model.data(model.index(0, 4), Qt::FontRole).value<QFont>();
    EXPECT_EQ(unit.family(), "SEGMO-A2");
    EXPECT_EQ(unit.pixelSize(), 12);
    EXPECT_FALSE(model.data(model.index(0, 3), Qt::FontRole).isValid());
}

TEST(RecordGridModel, FollowsAppendsEmptyingAndReplacement) {
    RecordTable table;
    TRecordGridModel model(&table);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    for (int i = 1; i <= 3; ++i)
        table.Append(Reading(i, QString::number(i)));
    EXPECT_EQ(model.rowCount(), 3);
    ASSERT_EQ(inserted.count(), 3);
    EXPECT_EQ(inserted[2][1].toInt(), 2);

    table.Empty();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(reset.count(), 1);

    RecordTable loaded;
    for (int i = 1; i <= 5; ++i)
        loaded.Append(Reading(i, QString::number(i)));
    table.ReplaceWith(loaded);
    EXPECT_EQ(model.rowCount(), 5);
    EXPECT_EQ(reset.count(), 2);
    EXPECT_EQ(model.data(model.index(4, 3)).toString(), "5");
}

TEST(RecordGridView, SetupMakesAReadOnlyRowGrid) {
    RecordTable table;
    TRecordGridModel model(&table);
    QTableView grid;
    SetupRecordGrid(&grid, &model);
    EXPECT_EQ(grid.objectName(), "DBGrid1");
    EXPECT_EQ(grid.model(), &model);
    EXPECT_EQ(grid.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(grid.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_TRUE(grid.showGrid());
    EXPECT_EQ(grid.horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
    EXPECT_EQ(grid.verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    const int widths[] = {53, 50, 70, 56, 35};
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(grid.columnWidth(c), widths[c]) << c;
    const QFontMetrics metrics(TRecordGridModel::CellFont());
    EXPECT_EQ(grid.columnWidth(5), metrics.horizontalAdvance('0') * 20 + 4);
    EXPECT_EQ(grid.font().family(), "Arial");
    EXPECT_EQ(grid.font().pixelSize(), 12);
    EXPECT_EQ(grid.horizontalHeader()->font().family(), "MS Sans Serif");
    EXPECT_EQ(grid.horizontalHeader()->font().pixelSize(), 11);
}

TEST(RecordGridView, ShownGridFollowsTheNewestRow) {
    RecordTable table;
    TRecordGridModel model(&table);
    QTableView grid;
    SetupRecordGrid(&grid, &model);
    grid.resize(320, 200);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));

    for (int i = 1; i <= 500; ++i)
        table.Append(Reading(i, QString::number(i)));
    Settle();
    EXPECT_EQ(grid.currentIndex().row(), 499);
    EXPECT_TRUE(grid.selectionModel()->isRowSelected(499, {}));
    const QRect last = grid.visualRect(model.index(499, 0));
    EXPECT_TRUE(grid.viewport()->rect().contains(last)) << "newest row scrolled into view";
    EXPECT_EQ(grid.verticalScrollBar()->value(), grid.verticalScrollBar()->maximum());

    // One more row after the burst: followed again.
    table.Append(Reading(501, "x"));
    Settle();
    EXPECT_EQ(grid.currentIndex().row(), 500);
    EXPECT_TRUE(grid.viewport()->rect().contains(grid.visualRect(model.index(500, 0))));

    // A row chosen as current (a file load positions on the first row) is shown.
    table.setCurrentRow(0);
    Settle();
    EXPECT_EQ(grid.currentIndex().row(), 0);
    EXPECT_TRUE(grid.viewport()->rect().contains(grid.visualRect(model.index(0, 0))));

    table.Empty();
    Settle();
    EXPECT_FALSE(grid.currentIndex().isValid());
    table.Append(Reading(1, "1"));
    Settle();
    EXPECT_EQ(grid.currentIndex().row(), 0);
}

TEST(RecordGridView, ClickOnRowSelectsItWithoutEditing) {
    RecordTable table;
    TRecordGridModel model(&table);
    QTableView grid;
    SetupRecordGrid(&grid, &model);
    grid.resize(400, 200);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    for (int i = 1; i <= 3; ++i)
        table.Append(Reading(i, QString::number(i)));
    Settle();
    const QRect cell = grid.visualRect(model.index(1, 3));
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(grid.currentIndex().row(), 1);
    EXPECT_EQ(grid.selectionModel()->selectedRows().size(), 1);
    Settle();
    EXPECT_EQ(grid.findChild<QLineEdit*>(), nullptr); // no editor opened
    EXPECT_EQ(table.Text(1, FieldValue), "2");
}
