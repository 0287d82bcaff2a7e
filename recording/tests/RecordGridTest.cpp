#include "recording/RecordGrid.h"
#include "testing/PaintCount.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>

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
    TRecordGrid grid;
    SetupRecordGrid(&grid, &model);
    EXPECT_EQ(grid.objectName(), "DBGrid1");
    EXPECT_EQ(grid.model(), &model);
    EXPECT_EQ(grid.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(grid.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(grid.horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
    const int widths[] = {53, 50, 70, 56, 35};
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(grid.columnWidth(c), widths[c]) << c;
    const QFontMetrics metrics(TRecordGridModel::CellFont());
    EXPECT_EQ(grid.columnWidth(5), metrics.horizontalAdvance('0') * 20 + 4);
    EXPECT_EQ(grid.font().family(), "Arial");
    EXPECT_EQ(grid.font().pixelSize(), 12);
    EXPECT_EQ(grid.horizontalHeader()->font().family(), "MS Sans Serif");
    EXPECT_EQ(grid.horizontalHeader()->font().pixelSize(), 11);
    // One height for every row: the cell font's height and a small margin.
    const int text = metrics.height();
    EXPECT_GE(grid.rowHeight(), text + 2);
    EXPECT_LE(grid.rowHeight(), text + 6);
}

TEST(RecordGridView, ShownGridFollowsTheNewestRow) {
    RecordTable table;
    TRecordGridModel model(&table);
    TRecordGrid grid;
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
    TRecordGrid grid;
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

namespace {

// A table view configured as the grid was before it had a view of its own: the
// reference for how the grid must look.
void SetupReference(QTableView& reference, const TRecordGrid& grid, TRecordGridModel& model) {
    reference.setModel(&model);
    reference.setEditTriggers(QAbstractItemView::NoEditTriggers);
    reference.setSelectionBehavior(QAbstractItemView::SelectRows);
    reference.setSelectionMode(QAbstractItemView::SingleSelection);
    reference.setWordWrap(false);
    reference.setCornerButtonEnabled(false);
    reference.setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    reference.setTextElideMode(Qt::ElideNone);
    reference.setFont(grid.font());
    reference.setStyle(grid.style());
    QHeaderView* titles = reference.horizontalHeader();
    titles->setFont(grid.horizontalHeader()->font());
    titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    titles->setHighlightSections(false);
    titles->setFixedHeight(grid.horizontalHeader()->height());
    for (int c = 0; c < model.columnCount(); ++c)
        reference.setColumnWidth(c, grid.columnWidth(c));
    reference.verticalHeader()->setMinimumSectionSize(1);
    reference.verticalHeader()->setDefaultSectionSize(grid.rowHeight());
    reference.verticalHeader()->hide();
    reference.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QObject::connect(model.table(), &RecordTable::currentRowChanged, &reference, [&](int row) {
        const QModelIndex index = model.index(row, 0);
        reference.selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                               QItemSelectionModel::Rows);
        reference.scrollTo(index);
    });
}

// Pixels that differ between two pictures (-1: their sizes differ).
int DifferingPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return -1;
    const QImage ia = a.convertToFormat(QImage::Format_RGB32);
    const QImage ib = b.convertToFormat(QImage::Format_RGB32);
    int differing = 0;
    for (int y = 0; y < ia.height(); ++y)
        for (int x = 0; x < ia.width(); ++x)
            differing += ia.pixel(x, y) != ib.pixel(x, y);
    return differing;
}

// Pixels that differ between two views, each drawn with the keyboard focus when
// `focus` is set (only one widget has it at a time).
int DifferingPixels(QWidget& a, QWidget& b, bool focus) {
    auto shot = [focus](QWidget& w) {
        if (focus) w.setFocus();
        Settle();
        return w.grab().toImage();
    };
    const QImage ia = shot(a);
    return DifferingPixels(ia, shot(b));
}

// Rows enough for ten million records and one, made up as they are asked for.
class TallModel : public QAbstractTableModel {
  public:
    int rows = 10000001;
    int rowCount(const QModelIndex& = {}) const override { return rows; }
    int columnCount(const QModelIndex& = {}) const override { return 6; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole) return {};
        return QString::number(index.row() + 1);
    }
    void Append(int count = 1) {
        beginInsertRows({}, rows, rows + count - 1);
        rows += count;
        endInsertRows();
    }
};

void AppendAndFollow(TallModel& model, TRecordGrid& grid, int count = 1) {
    model.Append(count);
    grid.FollowRow(model.rows - 1);
    Settle();
}

// A grid of 17-pixel rows over the model, shown, following its newest row.
void ShowFollowing(TallModel& model, TRecordGrid& grid) {
    grid.setModel(&model);
    grid.setSelectionBehavior(QAbstractItemView::SelectRows);
    grid.setRowHeight(17);
    grid.resize(320, 200);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    AppendAndFollow(model, grid);
}

} // namespace

// The grid draws exactly what a table view with hidden row titles drew, with rows
// that tile the viewport and rows that do not, while following, scrolled, with
// the focus, moved by keys and clicked.
TEST(RecordGridView, DrawsWhatATableViewDraws) {
    const struct {
        const char* what;
        std::function<void(QAbstractItemView&, RecordTable&)> step;
    } steps[] = {
        {"empty", [](QAbstractItemView&, RecordTable&) {}},
        {"five rows",
         [](QAbstractItemView&, RecordTable& t) {
             for (int i = 1; i <= 5; ++i)
                 t.Append(Reading(i, QString::number(i * 1.25, 'f', 4), i % 2 ? "K*" : "V"));
         }},
        {"following 100 rows",
         [](QAbstractItemView&, RecordTable& t) {
             for (int i = 6; i <= 100; ++i)
                 t.Append(Reading(i, QString::number(i * 1.25, 'f', 4), i % 2 ? "K*" : "V"));
         }},
        {"scrolled up",
         [](QAbstractItemView& v, RecordTable&) { v.verticalScrollBar()->setValue(37); }},
        {"scrolled right to the end",
         [](QAbstractItemView& v, RecordTable&) {
             v.horizontalScrollBar()->setValue(v.horizontalScrollBar()->maximum());
         }},
        {"scrolled right by one",
         [](QAbstractItemView& v, RecordTable&) { v.horizontalScrollBar()->setValue(1); }},
        {"focused", [](QAbstractItemView&, RecordTable&) {}},
        {"page up, right, tab",
         [](QAbstractItemView& v, RecordTable&) {
             QTest::keyClick(&v, Qt::Key_PageUp);
             QTest::keyClick(&v, Qt::Key_Right);
             QTest::keyClick(&v, Qt::Key_Tab);
         }},
        {"control-home",
         [](QAbstractItemView& v, RecordTable&) {
             QTest::keyClick(&v, Qt::Key_Home, Qt::ControlModifier);
         }},
        {"clicked",
         [](QAbstractItemView& v, RecordTable&) {
             QTest::mouseClick(v.viewport(), Qt::LeftButton, {}, QPoint(100, 40));
         }},
        {"followed again",
         [](QAbstractItemView&, RecordTable& t) { t.Append(Reading(101, "-0.L")); }},
        {"emptied", [](QAbstractItemView&, RecordTable& t) { t.Empty(); }},
    };
    for (const QSize size : {QSize(334, 241), QSize(300, 200)}) {
        RecordTable table, referenceTable;
        TRecordGridModel model(&table), referenceModel(&referenceTable);
        QWidget window;
        auto* grid = new TRecordGrid(&window);
        grid->setGeometry(QRect(QPoint(0, 0), size));
        SetupRecordGrid(grid, &model);
        auto* reference = new QTableView(&window);
        reference->setGeometry(QRect(QPoint(0, size.height()), size));
        SetupReference(*reference, *grid, referenceModel);
        auto* elsewhere = new QLineEdit(&window); // holds the focus until "focused"
        elsewhere->setGeometry(size.width(), 0, 20, 20);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        elsewhere->setFocus();
        bool focus = false;
        for (const auto& s : steps) {
            focus = focus || std::string(s.what) == "focused";
            SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()) + ": " +
                         s.what);
            s.step(*grid, table);
            s.step(*reference, referenceTable);
            Settle();
            EXPECT_EQ(DifferingPixels(*grid, *reference, focus), 0);
        }
        EXPECT_GT(grid->cachedCells(), 0) << "cells copied from the cache are compared too";
    }
}

// Cells copied from the cache keep the sharpness of the picture they are drawn
// into: after the grid has been drawn at one pixel ratio, drawn at twice that
// (a window moved to a denser screen, a picture of twice the resolution) it
// still matches what a table view draws there.
TEST(RecordGridView, CachedCellsFollowThePixelRatioTheyAreDrawnAt) {
    RecordTable table, referenceTable;
    TRecordGridModel model(&table), referenceModel(&referenceTable);
    QWidget window;
    auto* grid = new TRecordGrid(&window);
    grid->setGeometry(0, 0, 334, 241);
    SetupRecordGrid(grid, &model);
    auto* reference = new QTableView(&window);
    reference->setGeometry(0, 241, 334, 241);
    SetupReference(*reference, *grid, referenceModel);
    auto* elsewhere = new QLineEdit(&window); // holds the focus: neither view draws its frame
    elsewhere->setGeometry(334, 0, 20, 20);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    elsewhere->setFocus();
    for (RecordTable* t : {&table, &referenceTable})
        for (int i = 1; i <= 12; ++i)
            t->Append(Reading(i, i % 2 ? "1.2500" : "-0.L"));
    const auto drawnAt = [](QWidget& w, qreal ratio) {
        QPixmap picture(w.size() * ratio);
        picture.setDevicePixelRatio(ratio);
        w.render(&picture);
        return picture.toImage();
    };
    const qreal ratio = grid->devicePixelRatioF();
    for (int i = 0; i < 3; ++i) {
        Settle();
        drawnAt(*grid, ratio);
    }
    ASSERT_GT(grid->cachedCells(), 0);
    EXPECT_EQ(DifferingPixels(drawnAt(*grid, 2 * ratio), drawnAt(*reference, 2 * ratio)), 0);
}

TEST(RecordGridView, TenMillionRowsAndOneStayInPlace) {
    TallModel model;
    TRecordGrid grid;
    ASSERT_NO_FATAL_FAILURE(ShowFollowing(model, grid));
    const QModelIndex last = model.index(model.rows - 1, 0);
    EXPECT_EQ(grid.currentIndex(), last);
    const QRect rect = grid.visualRect(last);
    EXPECT_EQ(rect.bottom() + 2, grid.viewport()->height())
        << "the newest row (and its grid line) ends at the viewport's bottom edge";
    EXPECT_EQ(grid.rowAt(rect.center().y()), model.rows - 1);
    EXPECT_EQ(grid.indexAt(rect.center()), last);
    EXPECT_EQ(grid.verticalScrollBar()->maximum(), model.rows - grid.rowsInViewport());
}

// Following the newest of a million rows, ten at a time, draws the new rows; the
// scroll bar, whose slider stays at the end, and the column titles, which show no
// selection, are not repainted.  (For so long a range Qt's slider position at the
// end is sometimes a pixel short of it: that alone repaints nothing either.)
TEST(RecordGridView, FollowingRepaintsNeitherAStillScrollBarNorTheTitles) {
    TallModel model;
    model.rows = 1000000;
    TRecordGrid grid;
    grid.horizontalHeader()->setHighlightSections(false);
    ASSERT_NO_FATAL_FAILURE(ShowFollowing(model, grid));
    grid.resize(420, 300); // a track on which Qt's rounding shows
    Settle();
    TPaintCount rows(grid.viewport());
    TPaintCount bar(grid.verticalScrollBar());
    TPaintCount titles(grid.horizontalHeader(), true);
    for (int i = 0; i < 50; ++i)
        AppendAndFollow(model, grid, 10);
    EXPECT_EQ(grid.currentIndex().row(), model.rows - 1);
    EXPECT_EQ(grid.verticalScrollBar()->value(), grid.verticalScrollBar()->maximum());
    EXPECT_GT(rows.count(), 0);
    EXPECT_EQ(bar.count(), 0);
    EXPECT_EQ(titles.count(), 0);
}

// A hidden grid takes in nothing; shown, it follows the newest row at once.
TEST(RecordGridView, HiddenGridCatchesUpWhenShown) {
    RecordTable table;
    TRecordGridModel model(&table);
    TRecordGrid grid;
    SetupRecordGrid(&grid, &model);
    grid.resize(320, 200);
    for (int i = 1; i <= 50; ++i)
        table.Append(Reading(i, QString::number(i)));
    Settle();
    EXPECT_TRUE(grid.RefreshPending());
    EXPECT_FALSE(grid.currentIndex().isValid());
    grid.show();
    EXPECT_FALSE(grid.RefreshPending());
    EXPECT_EQ(grid.currentIndex().row(), 49);
    EXPECT_EQ(grid.verticalScrollBar()->value(), grid.verticalScrollBar()->maximum());
}

namespace {

// A record grid alone in a shown window, and the readings that arrive for it.
struct ShownGrid {
    RecordTable table;
    TRecordGridModel model{&table};
    QWidget window;
    TRecordGrid* grid = new TRecordGrid(&window);
    int rows = 0;

    ShownGrid() {
        grid->setGeometry(0, 0, 320, 200);
        SetupRecordGrid(grid, &model);
        window.resize(320, 200);
        window.show();
    }
    // Readings that come in together (one batch of the serial line).
    void Burst(int count) {
        for (int i = 0; i < count; ++i, ++rows)
            table.Append(Reading(rows + 1, QString::number(rows * 0.37, 'f', 3)));
    }
    // Pixels in which the window's screen differs from a full drawing of the grid.
    int ScreenDiffersFromDrawing() {
        QTest::qWait(20); // the window's backing store is flushed
        const QImage screen = window.screen()
                                  ->grabWindow(window.winId(), 0, 0, grid->width(), grid->height())
                                  .toImage();
        return DifferingPixels(screen, grid->grab().toImage());
    }
};

} // namespace

// What the screen holds after the grid followed bursts of rows (old rows moved
// up, only the new ones drawn) is what a full drawing of the grid gives: no row
// left behind, doubled or drawn at its old place.
TEST(RecordGridView, ScreenMatchesAFullDrawingWhileFollowing) {
    ShownGrid shown;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shown.window));
    for (const int burst : {3, 1, 7, 2, 15, 1, 30, 4}) {
        SCOPED_TRACE("burst of " + std::to_string(burst) + " after row " +
                     std::to_string(shown.rows));
        shown.Burst(burst);
        Settle();
        EXPECT_EQ(shown.ScreenDiffersFromDrawing(), 0);
    }
    EXPECT_EQ(shown.grid->currentIndex().row(), shown.rows - 1);
}

// Rows that arrive together, and something the user does before the grid's
// refresh takes them in: the screen then still shows every row.
TEST(RecordGridView, ScreenMatchesAFullDrawingAfterUserActionBeforeRefresh) {
    const struct {
        const char* what;
        std::function<void(TRecordGrid&)> action;
    } cases[] = {
        {"click on the first row",
         [](TRecordGrid& g) {
             QTest::mouseClick(g.viewport(), Qt::LeftButton, {},
                               QPoint(10, g.rowViewportPosition(0) + 3));
         }},
        {"key up", [](TRecordGrid& g) { QTest::keyClick(&g, Qt::Key_Up); }},
        {"scroll bar moved", [](TRecordGrid& g) { g.verticalScrollBar()->setValue(0); }},
        {"column widened", [](TRecordGrid& g) { g.setColumnWidth(0, g.columnWidth(0) + 5); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ShownGrid shown;
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&shown.window));
        shown.grid->setFocus(); // the user works in the grid
        shown.Burst(2);
        Settle();
        ASSERT_EQ(shown.ScreenDiffersFromDrawing(), 0);
        shown.Burst(3);
        c.action(*shown.grid);
        Settle();
        EXPECT_EQ(shown.grid->currentIndex().row(), shown.rows - 1);
        EXPECT_EQ(shown.ScreenDiffersFromDrawing(), 0)
            << "rows 3 and 4 of the burst are not drawn until the next reading comes";
    }
}

// A table replaced by one whose current row has the same number (an XML file of
// one row loaded again: the load positions on the first row, as before) is still
// shown with that row current and selected.
TEST(RecordGridView, ReplacedTableKeepsItsCurrentRowShown) {
    ShownGrid shown;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shown.window));
    shown.table.Append(Reading(1, "1.5"));
    Settle();
    ASSERT_EQ(shown.grid->currentIndex().row(), 0);

    RecordTable loaded;
    loaded.Append(Reading(1, "2.5"));
    shown.table.ReplaceWith(loaded);
    shown.table.setCurrentRow(0);
    Settle();
    ASSERT_EQ(shown.table.currentRow(), 0);
    EXPECT_EQ(shown.grid->currentIndex().row(), 0) << "the table's current row is not the grid's";
    EXPECT_TRUE(shown.grid->selectionModel()->isRowSelected(0, {}));
}
