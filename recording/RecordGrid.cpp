#include "recording/RecordGrid.h"

#include "recording/Recorder.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleOptionSlider>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QTimer>
#include <QVarLengthArray>

#include <typeinfo>

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

// Whether `style` draws an item view's text as Qt's common style does, which
// TRecordGrid::DrawPlainCell repeats (a style of the desktop may draw it its own way).
bool DrawsItemTextTheCommonWay(const QStyle* style) {
    const auto* proxy = qobject_cast<const QProxyStyle*>(style);
    const QStyle* base = proxy ? proxy->baseStyle() : style;
    return base && base->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0;
}

// A scroll bar that is repainted only when what it shows changes: where its
// slider lies, whether it stands at an end.  A grid following the newest of a
// million rows moves its scroll bar's value with every row, not its slider.
class TQuietScrollBar : public QScrollBar {
  public:
    using QScrollBar::QScrollBar;

    // Between Hold and Release the bar only notes changes; Release repaints it
    // when it then looks different.  A grid that takes in new rows widens the
    // range first and moves to the newest row after: in between, the bar is
    // briefly not at its end, which alone is no reason to paint it.
    void Hold() { ++held_; }
    void Release() {
        if (held_ == 0 || --held_ > 0 || !pending_) return;
        pending_ = false;
        if (Look() != painted_) QScrollBar::sliderChange(SliderValueChange);
    }

  protected:
    void sliderChange(SliderChange change) override {
        if (change != SliderOrientationChange) {
            if (held_ > 0) {
                pending_ = true;
                return;
            }
            if (Look() == painted_) return;
        }
        QScrollBar::sliderChange(change);
    }
    void paintEvent(QPaintEvent* event) override {
        painted_ = Look();
        QScrollBar::paintEvent(event);
    }

  private:
    struct Appearance {
        QRect slider;
        bool atMinimum = false, atMaximum = false, empty = false;
        bool operator==(const Appearance& o) const {
            if (atMinimum != o.atMinimum || atMaximum != o.atMaximum || empty != o.empty)
                return false;
            // A slider at the end of its track stays there.  For ranges of more than
            // half a million Qt's rounding sometimes puts it a pixel short of the
            // end: repainting for that would only make it jitter as rows come in.
            if (atMaximum && slider.size() == o.slider.size()) return true;
            return slider == o.slider;
        }
    };
    Appearance Look() const {
        QStyleOptionSlider option;
        initStyleOption(&option);
        Appearance a;
        a.slider = style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                           QStyle::SC_ScrollBarSlider, this);
        a.atMinimum = value() == minimum();
        a.atMaximum = value() == maximum();
        a.empty = minimum() == maximum();
        return a;
    }
    Appearance painted_{QRect(-1, -1, 0, 0)};
    int held_ = 0;
    bool pending_ = false;
};

// Column titles that share the grid's selection, as a table's do, but are not
// repainted when it changes unless they show it: following the newest row
// changes the selection with every refresh.
class TGridTitles : public QHeaderView {
  public:
    using QHeaderView::QHeaderView;

  protected:
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override {
        if (highlightSections()) QHeaderView::selectionChanged(selected, deselected);
    }
};

// Holds a scroll bar's repaint for as long as it lives (see TQuietScrollBar).
class TScrollBarHold {
  public:
    explicit TScrollBarHold(QScrollBar* bar) : bar_(dynamic_cast<TQuietScrollBar*>(bar)) {
        if (bar_) bar_->Hold();
    }
    ~TScrollBarHold() {
        if (bar_) bar_->Release();
    }
    TScrollBarHold(const TScrollBarHold&) = delete;
    TScrollBarHold& operator=(const TScrollBarHold&) = delete;

  private:
    TQuietScrollBar* bar_;
};

// Every change of a scroll bar's range makes the scroll area lay out its children
// again, which repaints both scroll bars; a grid following the newest row changes
// the range with every refresh.  Only a change between no range and some (the
// bar shown or hidden) needs that layout, and a value the new range clamps must
// still be reported.
void SetRangeQuietly(QScrollBar* bar, int maximum) {
    const bool quiet = (bar->maximum() > 0) == (maximum > 0) && bar->value() <= maximum;
    const QSignalBlocker blocker(quiet ? bar : nullptr);
    bar->setRange(0, maximum);
}

// The rows tile the space below the titles: when the grid follows the newest row,
// Qt puts that row flush with the bottom edge, and only rows that tile the space
// leave the first visible row whole as well.  The row height is the cell font's
// height plus a margin of 2 to 6 pixels, the one leaving the smallest strip; the
// title row takes up that strip.
void TileRows(TRecordGrid* grid, const QFont& cellFont) {
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
    grid->setRowHeight(best);
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

// ---------------------------------------------------------------- the view

TRecordGrid::TRecordGrid(QWidget* parent)
    : QAbstractItemView(parent), titles_(new TGridTitles(Qt::Horizontal, this)) {
    // What a table view starts with: clickable column titles, Tab moving between
    // cells, whole rows and columns per scroll step.
    titles_->setSectionsClickable(true);
    setTabKeyNavigation(true);
    setVerticalScrollBar(new TQuietScrollBar(Qt::Vertical));
    setHorizontalScrollBar(new TQuietScrollBar(Qt::Horizontal));
    // Opaque scroll bars: repainting one does not repaint the grid's frame and
    // the window behind it.
    verticalScrollBar()->setAutoFillBackground(true);
    horizontalScrollBar()->setAutoFillBackground(true);
    cells_.setMaxCost(1 << 20); // pixels: some thousand cells
    plainCellsHere_ = DrawsItemTextTheCommonWay(style());
    setVerticalScrollMode(ScrollPerItem);
    setHorizontalScrollMode(ScrollPerItem);
    connect(titles_, &QHeaderView::sectionResized, this, &TRecordGrid::ColumnResized);
    connect(titles_, &QHeaderView::sectionCountChanged, this, &TRecordGrid::ColumnResized);
    connect(titles_, &QHeaderView::geometriesChanged, this, &TRecordGrid::updateGeometries);
}

TRecordGrid::~TRecordGrid() {
    // QWidget's destructor hides the children, and the titles then report their
    // geometry: by that time this is no longer a grid to lay out.
    disconnect(titles_, nullptr, this, nullptr);
}

void TRecordGrid::setModel(QAbstractItemModel* model) {
    cacheCells_ = qobject_cast<TRecordGridModel*>(model) != nullptr;
    cells_.clear();
    titles_->setModel(model);
    QAbstractItemView::setModel(model);
    geometryDirty_ = true;
}

void TRecordGrid::setSelectionModel(QItemSelectionModel* selectionModel) {
    titles_->setSelectionModel(selectionModel);
    QAbstractItemView::setSelectionModel(selectionModel);
}

int TRecordGrid::columnWidth(int column) const {
    return titles_->sectionSize(column);
}

void TRecordGrid::setColumnWidth(int column, int width) {
    titles_->resizeSection(column, width);
}

int TRecordGrid::columnAt(int x) const {
    return titles_->logicalIndexAt(x);
}

int TRecordGrid::columnViewportPosition(int column) const {
    return titles_->sectionViewportPosition(column);
}

void TRecordGrid::setRowHeight(int height) {
    if (height < 1 || height == rowHeight_) return;
    rowHeight_ = height;
    updateGeometries();
    viewport()->update();
}

int TRecordGrid::RowCount() const {
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int TRecordGrid::firstVisibleRow() const {
    return yOffset_ / rowHeight_;
}

int TRecordGrid::rowsInViewport() const {
    return qMax(1, viewport()->height() / rowHeight_);
}

int TRecordGrid::rowAt(int y) const {
    const qint64 position = qint64(yOffset_) + y;
    if (position < 0) return -1;
    const qint64 row = position / rowHeight_;
    return row < RowCount() ? int(row) : -1;
}

int TRecordGrid::rowViewportPosition(int row) const {
    return int(qint64(row) * rowHeight_ - yOffset_);
}

int TRecordGrid::horizontalOffset() const {
    return titles_->offset();
}

int TRecordGrid::verticalOffset() const {
    return yOffset_;
}

void TRecordGrid::SyncOffsets() {
    // At the end of a scroll bar the last column and the last row end at the
    // viewport's edge; elsewhere the first one in view starts at its edge.
    const QScrollBar* across = horizontalScrollBar();
    if (across->maximum() > 0 && across->value() == across->maximum())
        titles_->setOffsetToLastSection();
    else
        titles_->setOffsetToSectionPosition(across->value());
    const QScrollBar* down = verticalScrollBar();
    if (down->maximum() > 0 && down->value() == down->maximum())
        yOffset_ = int(qMax<qint64>(0, qint64(RowCount()) * rowHeight_ - viewport()->height()));
    else
        yOffset_ = down->value() * rowHeight_;
}

bool TRecordGrid::isIndexHidden(const QModelIndex& index) const {
    return titles_->isSectionHidden(index.column());
}

QRect TRecordGrid::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model() || isIndexHidden(index)) return {};
    // Less the grid line, as a table view does.
    return QRect(columnViewportPosition(index.column()), rowViewportPosition(index.row()),
                 columnWidth(index.column()) - 1, rowHeight_ - 1);
}

QModelIndex TRecordGrid::indexAt(const QPoint& point) const {
    const int row = rowAt(point.y());
    const int column = columnAt(point.x());
    if (row < 0 || column < 0 || !model()) return {};
    return model()->index(row, column, rootIndex());
}

void TRecordGrid::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid() || index.model() != model()) return;
    if (geometryDirty_) updateGeometries(); // the range must know the newest rows
    const int row = index.row();
    const int fit = rowsInViewport();
    const qint64 top = qint64(row) * rowHeight_;
    int target = verticalScrollBar()->value();
    switch (hint) {
    case PositionAtTop:
        target = row;
        break;
    case PositionAtBottom:
        target = row - fit + 1;
        break;
    case PositionAtCenter:
        target = row - (fit - 1) / 2;
        break;
    case EnsureVisible:
        if (top < yOffset_)
            target = row;
        else if (top + rowHeight_ > qint64(yOffset_) + viewport()->height())
            target = row - fit + 1;
        break;
    }
    verticalScrollBar()->setValue(target);

    // The column: whole columns, as few steps as bring it into view.
    const int column = titles_->visualIndex(index.column());
    QScrollBar* bar = horizontalScrollBar();
    if (column < bar->value()) {
        bar->setValue(column);
    } else {
        const int right = columnViewportPosition(index.column()) + columnWidth(index.column());
        int value = bar->value();
        int overflow = right - viewport()->width();
        while (overflow > 0 && value < column && value < bar->maximum()) {
            overflow -= titles_->sectionSize(titles_->logicalIndex(value));
            ++value;
        }
        bar->setValue(value);
    }
}

QModelIndex TRecordGrid::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    const int rows = RowCount();
    const int columns = titles_->count();
    if (rows == 0 || columns == 0) return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid()) return model()->index(0, titles_->logicalIndex(0), rootIndex());
    int row = current.row();
    int visual = titles_->visualIndex(current.column());
    switch (cursorAction) {
    case MoveUp:
        row = qMax(0, row - 1);
        break;
    case MoveDown:
        row = qMin(rows - 1, row + 1);
        break;
    case MovePageUp:
        row = qMax(0, row - rowsInViewport());
        break;
    case MovePageDown:
        row = qMin(rows - 1, row + rowsInViewport());
        break;
    case MoveLeft:
        visual = qMax(0, visual - 1);
        break;
    case MoveRight:
        visual = qMin(columns - 1, visual + 1);
        break;
    case MoveHome:
        visual = 0;
        if (modifiers & Qt::ControlModifier) row = 0;
        break;
    case MoveEnd:
        visual = columns - 1;
        if (modifiers & Qt::ControlModifier) row = rows - 1;
        break;
    case MoveNext:
        if (++visual == columns) {
            visual = 0;
            row = row + 1 < rows ? row + 1 : 0;
        }
        break;
    case MovePrevious:
        if (--visual < 0) {
            visual = columns - 1;
            row = row > 0 ? row - 1 : rows - 1;
        }
        break;
    }
    return model()->index(row, titles_->logicalIndex(visual), rootIndex());
}

void TRecordGrid::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    if (!selectionModel()) return;
    const QRect r = rect.normalized();
    const QModelIndex topLeft = indexAt(r.topLeft());
    const QModelIndex bottomRight = indexAt(r.bottomRight());
    if (!topLeft.isValid() || !bottomRight.isValid()) return;
    selectionModel()->select(QItemSelection(topLeft, bottomRight), command);
}

QRegion TRecordGrid::visualRegionForSelection(const QItemSelection& selection) const {
    // Whole rows of the viewport: only the rows in view, however many are selected.
    QRegion region;
    const int first = firstVisibleRow();
    const int last = first + rowsInViewport() + 1;
    for (const QItemSelectionRange& range : selection) {
        const int top = qMax(range.top(), first);
        const int bottom = qMin(range.bottom(), last);
        if (top > bottom) continue;
        region += QRect(0, rowViewportPosition(top), viewport()->width(),
                        (bottom - top + 1) * rowHeight_);
    }
    return region;
}

void TRecordGrid::initViewItemOption(QStyleOptionViewItem* option) const {
    QAbstractItemView::initViewItemOption(option);
    option->showDecorationSelected = true;
}

bool TRecordGrid::DrawPlainCell(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index, const QString& text) const {
    // Only a cell of the record grid's own model through the standard delegate,
    // neither selected nor with the focus, is drawn here.
    const QAbstractItemDelegate* delegate = itemDelegateForIndex(index);
    if (!cacheCells_ || !plainCellsHere_ || !delegate ||
        typeid(*delegate) != typeid(QStyledItemDelegate) ||
        (option.state &
         (QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_Editing)) ||
        option.features != QStyleOptionViewItem::None || option.textElideMode != Qt::ElideNone)
        return false;
    // More than one line goes the delegate's way.
    if (text.contains(QLatin1Char('\n')) || text.contains(QChar::LineSeparator)) return false;
    if (text.isEmpty()) return true;
    QFont font = option.font;
    if (const QVariant f = index.data(Qt::FontRole); f.isValid())
        font = qvariant_cast<QFont>(f).resolve(option.font);
    Qt::Alignment align = option.displayAlignment;
    if (const QVariant a = index.data(Qt::TextAlignmentRole); a.isValid())
        align = Qt::Alignment(a.toInt());

    // Where and how the style's item view puts a line of text (its cell less the
    // focus frame's margin at each side, aligned in that), laid out once: the style
    // lays it out four times to find out where it goes.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const QRect textRect = option.rect.adjusted(margin, 0, -margin, 0);
    QTextOption textOption;
    textOption.setWrapMode(QTextOption::ManualWrap);
    textOption.setTextDirection(option.direction);
    textOption.setAlignment(QStyle::visualAlignment(option.direction, align));
    QTextLayout layout(text, font);
    layout.setTextOption(textOption);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(textRect.width());
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
    const QRect placed = QStyle::alignedRect(Qt::LeftToRight, align,
                                             layout.boundingRect().size().toSize(), textRect);
    QPalette::ColorGroup group =
        option.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    if (group == QPalette::Normal && !(option.state & QStyle::State_Active))
        group = QPalette::Inactive;
    painter->save();
    painter->setClipRect(option.rect);
    painter->setPen(option.palette.color(group, QPalette::Text));
    layout.draw(painter, QPointF(textRect.x(), placed.top()));
    painter->restore();
    return true;
}

void TRecordGrid::DrawCell(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index, bool selected) const {
    QStyleOptionViewItem opt = option;
    if (selected) opt.state |= QStyle::State_Selected;
    if (option.state & QStyle::State_Enabled) {
        const bool enabled = model()->flags(index) & Qt::ItemIsEnabled;
        if (!enabled) opt.state &= ~QStyle::State_Enabled;
        opt.palette.setCurrentColorGroup(enabled ? QPalette::Normal : QPalette::Disabled);
    }
    if (index == currentIndex() && (hasFocus() || viewport()->hasFocus()))
        opt.state |= QStyle::State_HasFocus;
    // The text: the cached look's key and what a plain cell draws.
    const QString text = cacheCells_ ? index.data(Qt::DisplayRole).toString() : QString();
    auto draw = [&](QPainter* p, const QStyleOptionViewItem& o) {
        style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &o, p, this);
        if (!DrawPlainCell(p, o, index, text)) itemDelegateForIndex(index)->paint(p, o, index);
    };

    // Most cells of a recording repeat one another (the time of a second, the
    // function, unit and verdict, a steady value): each look is drawn once, over
    // the viewport's background, and copied from then on.  The cell with the
    // focus is always drawn: its focus frame may reach beyond the cell.
    // A copy is made at the scale the cell is drawn at (the screen's pixel ratio,
    // or a picture's of another resolution), and only used at that scale.
    const QBrush background = viewport()->palette().brush(viewport()->backgroundRole());
    const QTransform& scale = painter->deviceTransform();
    if (!cacheCells_ || (opt.state & QStyle::State_HasFocus) ||
        background.style() != Qt::SolidPattern || !background.isOpaque() ||
        scale.type() > QTransform::TxScale || scale.m11() != scale.m22() || scale.m11() <= 0) {
        ++drawnCells_;
        draw(painter, opt);
        return;
    }
    const qreal ratio = scale.m11();
    CellKey key{index.column(),  text, int(opt.state), int(opt.palette.currentColorGroup()),
                opt.rect.size(), ratio};
    if (const QPixmap* cell = cells_.object(key)) {
        ++cachedCells_;
        painter->drawPixmap(opt.rect.topLeft(), *cell);
        return;
    }
    // A look seen for the first time (a row number, a new value) is drawn in
    // place: most never come back, and a cached copy would cost more than it saves.
    const size_t hash = qHash(key);
    if (!seenOnce_.contains(hash)) {
        if (seenOnce_.size() >= 4096) seenOnce_.clear();
        seenOnce_.insert(hash);
        ++drawnCells_;
        draw(painter, opt);
        return;
    }
    seenOnce_.remove(hash);
    ++drawnCells_;
    auto* cell = new QPixmap(opt.rect.size() * ratio);
    cell->setDevicePixelRatio(ratio);
    cell->fill(background.color());
    {
        QPainter p(cell);
        p.setFont(painter->font());
        QStyleOptionViewItem o = opt;
        o.rect = QRect(QPoint(0, 0), opt.rect.size());
        draw(&p, o);
    }
    painter->drawPixmap(opt.rect.topLeft(), *cell);
    cells_.insert(std::move(key), cell, opt.rect.width() * opt.rect.height());
}

void TRecordGrid::changeEvent(QEvent* event) {
    // Drawn cells keep the look of the palette, style and fonts they were drawn with.
    switch (event->type()) {
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
    case QEvent::FontChange:
        cells_.clear();
        seenOnce_.clear();
        plainCellsHere_ = DrawsItemTextTheCommonWay(style());
        break;
    default:
        break;
    }
    QAbstractItemView::changeEvent(event);
}

void TRecordGrid::paintEvent(QPaintEvent* event) {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const int gridHint = style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this);
    const QPen gridPen(QColor::fromRgba(static_cast<QRgb>(gridHint)), 1, Qt::SolidLine);
    QPainter painter(viewport());

    const int rows = RowCount();
    const int columns = titles_->count();
    if (rows == 0 || columns == 0 || !itemDelegate()) return;
    const int first = firstVisibleRow();
    // The last pixel of the last row and of the last column.
    const qint64 rowsBelow = qint64(rows - first) * rowHeight_ - 1;
    const int lastY = int(qMin<qint64>(rowsBelow, viewport()->height() + rowHeight_));
    const int lastX = titles_->length() - titles_->offset() - 1;
    QItemSelectionModel* selection = selectionModel();

    for (QRect dirty : event->region()) {
        dirty.setBottom(qMin(dirty.bottom(), lastY));
        dirty.setRight(qMin(dirty.right(), lastX));
        if (!dirty.isValid()) continue;
        int left = titles_->visualIndexAt(dirty.left());
        int right = titles_->visualIndexAt(dirty.right());
        if (left == -1) left = 0;
        if (right == -1) right = columns - 1;
        const int top = rowAt(dirty.top());
        int bottom = rowAt(dirty.bottom());
        if (bottom == -1) bottom = rows - 1;
        if (top == -1 || top > bottom) continue;

        for (int row = top; row <= bottom; ++row) {
            const int y = rowViewportPosition(row);
            const bool rowSelected = selection && selection->isRowSelected(row, rootIndex());
            for (int visual = left; visual <= right; ++visual) {
                const int column = titles_->logicalIndex(visual);
                if (titles_->isSectionHidden(column)) continue;
                const QModelIndex index = model()->index(row, column, rootIndex());
                if (!index.isValid()) continue;
                option.rect = QRect(columnViewportPosition(column), y, columnWidth(column) - 1,
                                    rowHeight_ - 1);
                DrawCell(&painter, option, index,
                         rowSelected || (selection && selection->isSelected(index)));
            }
        }

        // Grid lines: the last pixel row of every row, the last pixel column of
        // every column.
        const QPen old = painter.pen();
        painter.setPen(gridPen);
        QVarLengthArray<QLineF, 64> lines;
        for (int row = top; row <= bottom; ++row) {
            const int y = rowViewportPosition(row) + rowHeight_ - 1;
            lines.append(QLineF(dirty.left(), y, dirty.right(), y).translated(0.5, 0.5));
        }
        for (int visual = left; visual <= right; ++visual) {
            const int column = titles_->logicalIndex(visual);
            if (titles_->isSectionHidden(column)) continue;
            const int x = columnViewportPosition(column) + columnWidth(column) - 1;
            lines.append(QLineF(x, dirty.top(), x, dirty.bottom()).translated(0.5, 0.5));
        }
        painter.drawLines(lines.constData(), int(lines.size()));
        // Without row titles some styles draw the table's left edge as well.
        if (style()->styleHint(QStyle::SH_Table_AlwaysDrawLeftTopGridLines, &option, this)) {
            const int column = titles_->logicalIndex(left);
            const int x = columnViewportPosition(column);
            if (!titles_->isSectionHidden(column) && x == dirty.left())
                painter.drawLine(x, dirty.top(), x, dirty.bottom());
        }
        painter.setPen(old);
    }
}

void TRecordGrid::scrollContentsBy(int, int) {
    // The scroll bars count columns and rows; the viewport moves by pixels.
    const int oldX = titles_->offset();
    const int oldY = yOffset_;
    SyncOffsets();
    viewport()->scroll(oldX - titles_->offset(), oldY - yOffset_);
}

void TRecordGrid::updateGeometries() {
    geometryDirty_ = false;
    // The column titles above the viewport, as tall as they ask to be.
    const int height = titles_->isHidden()
                           ? 0
                           : qMin(qMax(titles_->minimumHeight(), titles_->sizeHint().height()),
                                  titles_->maximumHeight());
    // Setting the margins lays out and repaints the scroll bars: only when they change.
    if (viewportMargins().top() != height) setViewportMargins(0, height, 0, 0);
    const QRect area = viewport()->geometry();
    titles_->setGeometry(area.left(), area.top() - height, area.width(), height);
    if (titles_->isHidden()) QMetaObject::invokeMethod(titles_, "updateGeometries");

    // When everything fits without scroll bars, they are measured without them.
    QSize size = viewport()->size();
    const QSize most = maximumViewportSize();
    const int rows = RowCount();
    if (most.width() >= titles_->length() && most.height() >= qint64(rows) * rowHeight_)
        size = most;

    // Horizontal: whole columns; as many as fit counted from the last one.
    const int columns = titles_->count();
    int columnsInView = 0;
    for (int width = 0, visual = columns - 1; visual >= 0; --visual) {
        const int column = titles_->logicalIndex(visual);
        if (titles_->isSectionHidden(column)) continue;
        width += titles_->sectionSize(column);
        if (width > size.width()) break;
        ++columnsInView;
    }
    columnsInView = qMax(columnsInView, 1);
    const int shownColumns = columns - titles_->hiddenSectionCount();
    horizontalScrollBar()->setRange(0, qMax(0, shownColumns - columnsInView));
    horizontalScrollBar()->setPageStep(columnsInView);
    horizontalScrollBar()->setSingleStep(1);

    // Vertical: whole rows; the last page ends with the last row.
    const int rowsInView = qMax(1, size.height() / rowHeight_);
    SetRangeQuietly(verticalScrollBar(), qMax(0, rows - rowsInView));
    verticalScrollBar()->setPageStep(rowsInView);
    verticalScrollBar()->setSingleStep(1);
    const int oldY = yOffset_;
    SyncOffsets();
    // The rows already drawn move with the offset; only what comes into view is drawn.
    if (yOffset_ != oldY) viewport()->scroll(0, oldY - yOffset_);

    QAbstractItemView::updateGeometries();
}

void TRecordGrid::ColumnResized() {
    updateGeometries();
    viewport()->update();
}

void TRecordGrid::rowsInserted(const QModelIndex&, int, int) {
    // Nothing per row: the new count is taken in at the next refresh.
    geometryDirty_ = true;
    ScheduleRefresh();
}

void TRecordGrid::reset() {
    QAbstractItemView::reset();
    geometryDirty_ = true;
    shownRows_ = 0;
    viewport()->update();
    ScheduleRefresh();
}

void TRecordGrid::FollowRow(int row) {
    followRow_ = row;
    followPending_ = true;
    ScheduleRefresh();
}

void TRecordGrid::SetRefreshScheduler(std::function<void()> schedule) {
    scheduler_ = std::move(schedule);
}

void TRecordGrid::ScheduleRefresh() {
    if (scheduler_) {
        scheduler_();
        return;
    }
    if (refreshQueued_) return;
    refreshQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        refreshQueued_ = false;
        Refresh();
    });
}

void TRecordGrid::showEvent(QShowEvent* event) {
    QAbstractItemView::showEvent(event);
    if (RefreshPending()) Refresh();
}

void TRecordGrid::Refresh() {
    if (!isVisible() || !model()) return;
    const TScrollBarHold holdRows(verticalScrollBar());
    if (geometryDirty_) updateGeometries();
    // Only the space below the rows shown so far is drawn again: rows are
    // appended there; a grid that follows the newest row scrolls the pixels
    // already drawn and draws just the rows that come into view. The count is
    // compared, not the layout's state: a key or click before this refresh may
    // have laid the grid out for the new rows already.
    const int rows = RowCount();
    if (rows != shownRows_) {
        const qint64 end = qint64(shownRows_) * rowHeight_ - yOffset_;
        const QRect area = viewport()->rect();
        if (rows < shownRows_)
            viewport()->update();
        else if (end < area.height())
            viewport()->update(area.adjusted(0, int(qMax<qint64>(0, end)), 0, 0));
        shownRows_ = rows;
    }
    if (!followPending_) return;
    followPending_ = false;
    QItemSelectionModel* selection = selectionModel();
    if (followRow_ < 0 || followRow_ >= RowCount()) {
        if (selection) selection->clear();
        return;
    }
    const QModelIndex index = model()->index(followRow_, 0, rootIndex());
    if (selection)
        selection->setCurrentIndex(index,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index, EnsureVisible);
}

// ---------------------------------------------------------------- set-up

void SetupRecordGrid(TRecordGrid* grid, TRecordGridModel* model) {
    grid->setObjectName(QStringLiteral("DBGrid1"));
    grid->setModel(model);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setTextElideMode(Qt::ElideNone);

    const QFont cellFont = TRecordGridModel::CellFont();
    grid->setFont(cellFont);
    auto* cellStyle = new TNarrowCellStyle;
    cellStyle->setParent(grid);
    grid->setStyle(cellStyle);

    QHeaderView* titles = grid->horizontalHeader();
    titles->setFont(TRecordGridModel::TitleFont());
    titles->setSectionResizeMode(QHeaderView::Interactive);
    titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    titles->setHighlightSections(false);
    titles->setStretchLastSection(false);
    for (int c = 0; c < TRecordGridModel::kColumnCount; ++c)
        grid->setColumnWidth(c, TRecordGridModel::ColumnWidth(c, cellFont));

    // One row height for every row: the view never measures rows, whatever their number.
    grid->setRowHeight(QFontMetrics(cellFont).height() + 4);
    // The horizontal scroll bar always takes its place, so the rows keep tiling the
    // space left to them whatever the column widths.
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    TileRows(grid, cellFont);

    RecordTable* table = model->table();
    QObject::connect(table, &RecordTable::currentRowChanged, grid, &TRecordGrid::FollowRow);
    // A table replaced by one whose current row has the same number sends no change
    // of it, but the model's reset took the grid's current row away.
    QObject::connect(table, &RecordTable::reset, grid,
                     [grid, table] { grid->FollowRow(table->currentRow()); });
}

bool AskRecordNew(QWidget* parent) {
    QMessageBox box(QMessageBox::Information, QString(), QString::fromLatin1(kRecordNewQuestion),
                    QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}

} // namespace orvex
