#include "app/TFCOMM.h"

#include "app/ReportPreview.h"
#include "app/ViewRefresh.h"
#include "app/Widgets.h"
#include "chart/TChartView.h"
#include "display/FirstShow.h"
#include "display/LcdPanel.h"
#include "files/SessionJournal.h"
#include "files/TableFiles.h"
#include "link/ConnectionControl.h"
#include "link/HidDeviceController.h"
#include "link/LinkPictures.h"
#include "link/SerialPortDriver.h"
#include "link/UsbCableLink.h"
#include "recording/LimitJudge.h"
#include "recording/RecordGrid.h"
#include "recording/Sampling.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QStyleFactory>
#include <QTimer>
#include <QToolButton>

#include <utility>

// The window's pictures live in this library's resources.
static void InitAppResources() {
    Q_INIT_RESOURCE(app);
}

namespace orvex {
namespace {

// Fonts of the layout, by pixel height.
QFont PixelFont(const QString& family, int pixels, bool bold = false, bool italic = false) {
    QFont f(family);
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

QFont WindowFont() {
    return PixelFont(QStringLiteral("MS Sans Serif"), 11, true);
}
QFont ArialFont(int pixels, bool bold = false, bool italic = false) {
    return PixelFont(QStringLiteral("Arial"), pixels, bold, italic);
}

// Shows or hides a control.  Hiding the one with the keyboard focus (or a panel
// holding it) takes the focus away instead of letting Qt pass it to the next
// control, which would select all of an edit's text.
void SetVisibleKeepingFocus(QWidget* widget, bool visible) {
    QWidget* focus = QApplication::focusWidget();
    if (!visible && focus && (focus == widget || widget->isAncestorOf(focus))) focus->clearFocus();
    widget->setVisible(visible);
}

template <typename W> W* Place(QWidget* parent, const QString& name, int x, int y, int w, int h) {
    auto* widget = new W(parent);
    widget->setObjectName(name);
    widget->setGeometry(x, y, w, h);
    return widget;
}

QLabel* Label(QWidget* parent, const QString& name, const QString& text, int x, int y,
              const QFont& font) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFont(font);
    label->move(x, y);
    label->adjustSize();
    return label;
}

QLineEdit* Edit(QWidget* parent, const QString& name, const QString& text, int x, int y, int w,
                int h) {
    auto* edit = Place<QLineEdit>(parent, name, x, y, w, h);
    edit->setText(text);
    return edit;
}

QCheckBox* Check(QWidget* parent, const QString& name, const QString& text, int x, int y, int w,
                 int h, bool checked) {
    auto* box = Place<QCheckBox>(parent, name, x, y, w, h);
    box->setText(text);
    box->setChecked(checked);
    return box;
}

// An icon button in the style of a flat speed button.  `hint` names what it does;
// it is shown as a tooltip only where `tooltip` is true.
QToolButton* IconButton(QWidget* parent, const QString& name, const QString& icon, int x, int y,
                        int w, int h, const QString& hint, bool tooltip = false) {
    auto* button = Place<QToolButton>(parent, name, x, y, w, h);
    if (!icon.isEmpty()) {
        button->setIcon(QIcon(QStringLiteral(":/app/icons/") + icon));
        button->setIconSize(QSize(16, 16));
    }
    button->setAutoRaise(true);
    button->setAccessibleName(hint);
    button->setProperty("hint", hint);
    if (tooltip) button->setToolTip(hint);
    return button;
}

// A picture for a label that starts hidden, made the first time it is shown.
void SetPictureWhenShown(QLabel* label, const QString& picture, QSize size) {
    WhenFirstShown(label,
                   [label, picture, size] { label->setPixmap(QIcon(picture).pixmap(size)); });
}

TClickPanel* PanelButton(QWidget* parent, const QString& name, const QString& caption, int x, int y,
                         int w, int h) {
    auto* panel = Place<TClickPanel>(parent, name, x, y, w, h);
    panel->setText(caption);
    panel->setAlignment(Qt::AlignCenter);
    return panel;
}

QMenu* Menu(QMenuBar* bar, const QString& name, const QString& title) {
    QMenu* menu = bar->addMenu(title);
    menu->setObjectName(name);
    menu->menuAction()->setObjectName(name);
    return menu;
}

QAction* Item(QMenu* menu, const QString& name, const QString& caption, bool checkable = false,
              bool checked = false) {
    QAction* item = menu->addAction(caption);
    item->setObjectName(name);
    item->setCheckable(checkable);
    item->setChecked(checked);
    return item;
}

} // namespace

TFCOMM::TFCOMM(const WindowOptions& options, QWidget* parent)
    : QMainWindow(parent), dialogs_(options.dialogs ? options.dialogs : &QtDialogs()),
      machineProbe_(options.machineProbe ? options.machineProbe : MachineProbe(UnameMachine)) {
    setObjectName(QStringLiteral("TFCOMM"));
    InitAppResources();
    InitLinkPictures();
    RegisterLcdFont();
    // The layout's fonts where this system lacks them: "MS Sans Serif" becomes a
    // sans-serif of similar width ("Arial" finds its metric twin by itself).
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    setFont(WindowFont());
    setWindowIcon(QIcon(QStringLiteral(":/app/icons/window.svg")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    setPalette(pal);
    viewRefresh_ = new TViewRefresh(this, [this] { RefreshView(); });

    BuildMenu();

    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("ClientArea"));
    client_->setFixedSize(kClientWidth, kClientHeight);
    client_->setAutoFillBackground(true);
    setCentralWidget(client_);

    BuildConnectionBar(client_);

    Panel1 = new TLcdPanel(client_);
    Panel1->move(3, 28);

    BuildJudgePanel(client_);
    BuildChartToolbar(client_);
    BuildRecordToolbar(client_);

    DBGrid1 = Place<TRecordGrid>(client_, QStringLiteral("DBGrid1"), 1, 232, 334, 241);

    Chtshow = new TChartView(client_);
    Chtshow->setGeometry(336, 204, 376, 269);
    Chtshow->SetRedrawScheduler([this] { viewRefresh_->Request(); });
    Panel5->raise();

    BuildUnseenControls(client_);

    state_.recording.cds1.setObjectName(QStringLiteral("cds1"));
    Data1 = new TRecordGridModel(&state_.recording.cds1, this);
    Data1->setObjectName(QStringLiteral("Data1"));
    SetupRecordGrid(DBGrid1, Data1);
    DBGrid1->SetRefreshScheduler([this] { viewRefresh_->Request(); });

    Trecord = new QTimer(this);
    Trecord->setObjectName(QStringLiteral("Trecord"));
    Trecord->setInterval(1000);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(2000);

    ConnectRecording();
    ConnectChart();
    ConnectLink(options);
    ConnectFiles();

    state_.protocol.assembler.onCut = [this](const QString& frame) { USBtxt->setText(frame); };
    state_.protocol.assembler.onFrame = [this](const QString&) { LcdDisplayOrvex(); };

    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());

    RunHandler([this] { FormCreate(); });
    RunHandler([this, &options] { ConnectSession(options); });

    connection_->StartConTimer();
    Trecord->start();
}

TFCOMM::~TFCOMM() {
    // The program ends normally: the journal goes.
    if (journal_) journal_->Remove();
    // The cable's devices go back and their reading stops, then the port
    // closes, so nothing arrives while the window is taken apart; then the grid
    // and its model, which look at the record table in state_.
    connection_->AttachCable(nullptr);
    cable_.reset();
    HidCtl_.reset();
    connection_.reset();
    COMM2_.reset();
    delete DBGrid1;
    delete Data1;
}

QAction* TFCOMM::action(const QString& name) const {
    return findChild<QAction*>(name);
}

void TFCOMM::BuildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    QMenu* com = Menu(bar, QStringLiteral("ComSetup1"), QStringLiteral("ComSetup"));
    Item(com, QStringLiteral("COM11"), QStringLiteral("COM1"), true, true);
    Item(com, QStringLiteral("COM21"), QStringLiteral("COM2"), true);
    Item(com, QStringLiteral("COM31"), QStringLiteral("COM3"), true);
    Item(com, QStringLiteral("COM41"), QStringLiteral("COM4"), true);

    QMenu* connect = Menu(bar, QStringLiteral("Connect1"), QStringLiteral("Connect"));
    Item(connect, QStringLiteral("START1"), QStringLiteral("START"), true);
    Item(connect, QStringLiteral("STOP1"), QStringLiteral("STOP"), true)->setEnabled(false);

    QMenu* graphic = Menu(bar, QStringLiteral("Graphic"), QStringLiteral("Graphic"));
    Item(graphic, QStringLiteral("First"), QStringLiteral("First"));
    Item(graphic, QStringLiteral("Previous"), QStringLiteral("Previous"));
    Item(graphic, QStringLiteral("Next"), QStringLiteral("Next"));
    Item(graphic, QStringLiteral("Last"), QStringLiteral("Last"));
    graphic->addSeparator()->setObjectName(QStringLiteral("N1"));
    Item(graphic, QStringLiteral("New"), QStringLiteral("New"));
    Item(graphic, QStringLiteral("Save"), QStringLiteral("Save"));
    graphic->addSeparator()->setObjectName(QStringLiteral("N2"));
    Item(graphic, QStringLiteral("Fill"), QStringLiteral("Fill"), true, true);

    QMenu* record = Menu(bar, QStringLiteral("Record1"), QStringLiteral("Record"));
    Item(record, QStringLiteral("New1"), QStringLiteral("New"));
    Item(record, QStringLiteral("Save1"), QStringLiteral("Save"));
    record->addSeparator()->setObjectName(QStringLiteral("N3"));
    Item(record, QStringLiteral("N10001"), QStringLiteral("1000"), true);
    Item(record, QStringLiteral("N50001"), QStringLiteral("5000"), true);
    Item(record, QStringLiteral("N100001"), QStringLiteral("10000"), true, true);
    Item(record, QStringLiteral("N500001"), QStringLiteral("50000"), true);
    Item(record, QStringLiteral("N1000001"), QStringLiteral("100000"), true);
    Item(record, QStringLiteral("limitess"), QStringLiteral("limitless"), true);
}

void TFCOMM::BuildConnectionBar(QWidget* client) {
    Panel6 = Place<QFrame>(client, QStringLiteral("Panel6"), 5, -4, 707, 34);
    const QFont portFont = ArialFont(16, true);
    const struct {
        const char* name;
        const char* caption;
        int x, y;
    } ports[] = {{"BtCOM1", "COM 1", 5, 6},
                 {"BtCOM2", "COM 2", 3, 6},
                 {"BtCOM3", "COM 3", 5, 6},
                 {"BtCOM4", "COM 4", 3, 5}};
    for (const auto& p : ports) {
        TClickPanel* panel = PanelButton(Panel6, QString::fromLatin1(p.name),
                                         QString::fromLatin1(p.caption), p.x, p.y, 61, 24);
        panel->setFont(portFont);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setAutoFillBackground(true);
        QPalette pal = panel->palette();
        pal.setColor(QPalette::Window, QColor(192, 192, 192));
        // While the port is open the panel is disabled: its caption stays legible, greyed.
        pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(110, 110, 110));
        pal.setColor(QPalette::Disabled, QPalette::Window, QColor(192, 192, 192));
        panel->setPalette(pal);
        panel->setVisible(qstrcmp(p.name, "BtCOM1") == 0);
    }

    auto* comCon = Place<QPushButton>(Panel6, QStringLiteral("COMCon"), 66, 5, 152, 25);
    comCon->setText(QStringLiteral("COM Connect"));
    comCon->setCheckable(true);
    comCon->setFont(ArialFont(13, true));
    auto* usbCon = Place<QPushButton>(Panel6, QStringLiteral("USBCon"), 221, 6, 119, 25);
    usbCon->setText(QStringLiteral("USB Connect"));
    usbCon->setCheckable(true);
    usbCon->setFont(ArialFont(13, true));
    usbCon->setAccessibleName(QStringLiteral("USB Connect"));
    usbCon->setProperty("hint", QStringLiteral("USB Connect"));

    auto* quit = Place<QPushButton>(Panel6, QStringLiteral("BitBtn1"), 605, 5, 89, 25);
    quit->setText(QStringLiteral("QUIT"));
    quit->setFont(ArialFont(14, true, true));
    On(quit, &QPushButton::clicked, [this] { BitBtn1Click(); });
}

void TFCOMM::BuildJudgePanel(QWidget* client) {
    Panel4 = Place<QFrame>(client, QStringLiteral("Panel4"), 340, 30, 371, 132);
    static_cast<QFrame*>(Panel4)->setFrameStyle(QFrame::Panel | QFrame::Raised);
    const QFont font = ArialFont(11, true);
    Label(Panel4, QStringLiteral("T1_HI"), QStringLiteral("Set Hi Limit:"), 16, 20, font);
    T1HI = Edit(Panel4, QStringLiteral("T1HI"), QStringLiteral("22000"), 112, 16, 81, 22);
    T1HI->setFont(font);
    T1HI->setToolTip(QStringLiteral("Can't for empty"));
    Label(Panel4, QStringLiteral("T1_Value"), QStringLiteral("Measure Value:"), 16, 64, font);
    T1VALUE = Edit(Panel4, QStringLiteral("T1VALUE"), QStringLiteral("0"), 112, 54, 129, 32);
    T1VALUE->setFont(ArialFont(21, true));
    T1VALUE->setAutoFillBackground(true);
    Label(Panel4, QStringLiteral("T1_LO"), QStringLiteral("Set Low Limit:"), 16, 100, font);
    T1LO = Edit(Panel4, QStringLiteral("T1LO"), QStringLiteral("-22000"), 112, 100, 81, 22);
    T1LO->setFont(font);
    T1LO->setToolTip(QStringLiteral("Can't for empty"));

    const QColor tip = QApplication::palette().color(QPalette::ToolTipBase);
    QPalette valuePal = T1VALUE->palette();
    valuePal.setColor(QPalette::Base, tip);
    T1VALUE->setPalette(valuePal);

    Shape1 = Place<TShape>(Panel4, QStringLiteral("Shape1"), 245, 8, 113, 121);
    Shape1->setBrushColor(tip);
    judge = Place<QLabel>(Panel4, QStringLiteral("judge"), 275, 52, 60, 36);
    judge->setFont(PixelFont(QStringLiteral("MS Sans Serif"), 32, true));
    judge->setAutoFillBackground(true);
    QPalette judgePal = judge->palette();
    judgePal.setColor(QPalette::Window, tip);
    judge->setPalette(judgePal);
    judge->setText(QString());

    // The link lamp: a computer beside a meter, screens lit or dark.  24 pixels
    // wide, so that at its places it stays clear of the panel's edge.
    const QSize lamp(24, 24);
    CONok = Place<QLabel>(Panel4, QStringLiteral("CONok"), 342, 5, lamp.width(), lamp.height());
    CONok->hide();
    SetPictureWhenShown(CONok, CONokPicturePath(), lamp);
    CONokN = Place<QLabel>(Panel4, QStringLiteral("CONokN"), 344, 5, lamp.width(), lamp.height());
    CONokN->setPixmap(QIcon(CONokNPicturePath()).pixmap(lamp));
}

void TFCOMM::BuildChartToolbar(QWidget* client) {
    Panel5 = Place<QFrame>(client, QStringLiteral("Panel5"), 341, 166, 372, 38);
    static_cast<QFrame*>(Panel5)->setFrameStyle(QFrame::Panel | QFrame::Raised);
    const QColor silver(192, 192, 192);

    BtFill = Check(Panel5, QStringLiteral("BtFill"), QStringLiteral("Fill"), 24, 4, 44, 17, true);
    BtFill->setFont(PixelFont(QStringLiteral("MS Sans Serif"), 13));
    BtFill->setProperty("hint", QStringLiteral("Graphic Fill"));
    BtFill->setAutoFillBackground(true);
    BtFill->setBackgroundRole(QPalette::Window); // a button would fill with its Button colour
    QPalette fillPal = BtFill->palette();
    fillPal.setColor(QPalette::Window, silver);
    BtFill->setPalette(fillPal);

    Maxrecord = Edit(Panel5, QStringLiteral("Maxrecord"), QStringLiteral("100"), 91, 2, 49, 21);
    QPalette maxPal = Maxrecord->palette();
    maxPal.setColor(QPalette::Base, silver);
    Maxrecord->setPalette(maxPal);

    IconButton(Panel5, QStringLiteral("BtSave"), QStringLiteral("save.svg"), 149, 3, 28, 21,
               QStringLiteral("Save"));
    IconButton(Panel5, QStringLiteral("BtFirst"), QStringLiteral("first.svg"), 179, 3, 25, 21,
               QStringLiteral("First"));
    IconButton(Panel5, QStringLiteral("BTPrevious"), QStringLiteral("previous.svg"), 203, 3, 25, 21,
               QStringLiteral("Previous"));
    Bt10 = IconButton(Panel5, QStringLiteral("Bt10"), QString(), 227, 3, 25, 21,
                      QStringLiteral("Page No."));
    Bt10->setText(QStringLiteral("1"));
    QPalette pagePal = Bt10->palette();
    pagePal.setColor(QPalette::ButtonText, Qt::blue);
    Bt10->setPalette(pagePal);
    IconButton(Panel5, QStringLiteral("BtNext"), QStringLiteral("next.svg"), 251, 3, 25, 21,
               QStringLiteral("Next"));
    IconButton(Panel5, QStringLiteral("BTlast"), QStringLiteral("last.svg"), 275, 3, 25, 21,
               QStringLiteral("last"));

    auto* enlarge = Place<TClickPanel>(Panel5, QStringLiteral("TbFd"), 312, 3, 25, 25);
    enlarge->setPixmap(QIcon(QStringLiteral(":/app/icons/enlarge.svg")).pixmap(25, 25));
    enlarge->setProperty("hint", QStringLiteral("Graphic Enlarge"));
    auto* restore = Place<TClickPanel>(Panel5, QStringLiteral("TbSx"), 334, 6, 25, 25);
    restore->setProperty("hint", QStringLiteral("Graphic Restore"));
    restore->hide();
    SetPictureWhenShown(restore, QStringLiteral(":/app/icons/restore.svg"), QSize(25, 25));
}

void TFCOMM::BuildRecordToolbar(QWidget* client) {
    // The toolbar's check boxes use the window font at regular weight; the interval
    // edit covers the gap in the caption of RecordSI, "'S" follows it.
    QFont regular = font();
    regular.setBold(false);
    RepeatSet =
        Check(client, QStringLiteral("RepeatSet"), QStringLiteral("Repeat"), 1, 210, 54, 20, true);
    RepeatSet->setFont(regular);
    RepeatSet->setProperty("hint", QStringLiteral("Repeage Record"));
    RecordSI = Check(client, QStringLiteral("RecordSI"),
                     QStringLiteral("Sampling Interval           'S"), 55, 210, 143, 20, false);
    RecordSI->setFont(regular);
    auto* classic = new TClassicCheckStyle;
    classic->setParent(client);
    RepeatSet->setStyle(classic);
    RecordSI->setStyle(classic);
    RecordSITime =
        Edit(client, QStringLiteral("RecordSITime"), QStringLiteral("10"), 157, 210, 27, 21);
    RecordSITime->raise();

    IconButton(client, QStringLiteral("RecordNew"), QStringLiteral("new.svg"), 246, 210, 23, 21,
               QStringLiteral("Close Data"), true);
    IconButton(client, QStringLiteral("OpenDataFiles"), QStringLiteral("open.svg"), 268, 210, 23,
               21, QStringLiteral("Open old data files"), true);
    IconButton(client, QStringLiteral("saveas"), QStringLiteral("savedata.svg"), 290, 210, 23, 21,
               QStringLiteral("Save data files"), true);
    IconButton(client, QStringLiteral("BtPrint"), QStringLiteral("print.svg"), 312, 210, 22, 21,
               QStringLiteral("Print"));
}

void TFCOMM::BuildUnseenControls(QWidget* client) {
    // Hidden controls.
    QToolButton* print =
        IconButton(client, QStringLiteral("Print"), QString(), 312, 232, 22, 21, QString());
    print->hide();
    WhenFirstShown(print, [print] {
        print->setIcon(QIcon(QStringLiteral(":/app/icons/print.svg")));
        print->setIconSize(QSize(16, 16));
    });
    USBtxt = Place<QLabel>(client, QStringLiteral("USBtxt"), 720, 40, 160, 16);
    USBtxt->setFont(ArialFont(10, false, true));
    USBtxt->setText(QStringLiteral("6001"));
    USBtxt->hide();
    ComboBox1 = Chtshow->ComboBox1();

    // Panels used as buttons, below the client area (FormResize places them).
    const QColor blue(0, 0, 255);
    auto makeBlue = [&](TClickPanel* panel) {
        panel->setFont(ArialFont(13, true, true));
        panel->setAutoFillBackground(true);
        QPalette pal = panel->palette();
        pal.setColor(QPalette::Window, blue);
        pal.setColor(QPalette::WindowText, Qt::yellow);
        panel->setPalette(pal);
        return panel;
    };
    makeBlue(
        PanelButton(client, QStringLiteral("BTCon"), QStringLiteral("Connect"), 524, 511, 97, 25));
    makeBlue(PanelButton(client, QStringLiteral("BtDiscon"), QStringLiteral("Disconnect"), 524, 511,
                         97, 25))
        ->hide();
    TClickPanel* exit = makeBlue(
        PanelButton(client, QStringLiteral("BtExit"), QStringLiteral("Exit"), 634, 511, 73, 25));
    On(exit, &TClickPanel::clicked, [this] { BtExit1Click(); });

    // Controls beyond the window's edge.
    IconButton(client, QStringLiteral("BtNew"), QStringLiteral("new.svg"), 720, 210, 23, 21,
               QStringLiteral("New"));
    SetMaxB = Check(client, QStringLiteral("SetMaxB"), QStringLiteral("SetMax:"), 720, 240, 70, 20,
                    false);
    Setmax = Edit(client, QStringLiteral("Setmax"), QStringLiteral("22000"), 790, 240, 60, 21);
    SetMinB = Check(client, QStringLiteral("SetMinB"), QStringLiteral("SetMin: "), 720, 264, 70, 20,
                    false);
    SetMin = Edit(client, QStringLiteral("SetMin"), QStringLiteral("-22000"), 790, 264, 60, 21);
    multirange = Check(client, QStringLiteral("multirange"), QStringLiteral("Continue Record"), 720,
                       288, 130, 20, true);
    multirange->setProperty(
        "hint", QStringLiteral("If the choice consecution  record data, shift gear then can't "
                               "clearance data.When the function file replace, would the data of "
                               "the clearance record.Thanks!"));
    IFOrvex =
        Check(client, QStringLiteral("IFOrvex"), QStringLiteral("IFOrvex"), 720, 312, 90, 20, true);
    const struct {
        const char* name;
        const char* caption;
    } buttons[] = {{"ReadBtn", "Read"},
                   {"ClearBtn", "Clear"},
                   {"InfoBtn", "Info"},
                   {"SetFeature", "SetFeature"}};
    int y = 340;
    for (const auto& b : buttons) {
        auto* button = Place<QPushButton>(client, QString::fromLatin1(b.name), 720, y, 90, 23);
        button->setText(QString::fromLatin1(b.caption));
        y += 26;
    }
    Place<QListWidget>(client, QStringLiteral("DevListBox"), 720, 450, 200, 60);
    Place<QListWidget>(client, QStringLiteral("HistoryListBox"), 720, 520, 200, 60);
}

void TFCOMM::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TFCOMM::FormResize() {
    // The outer width includes the frame; before the window manager gives the
    // window a frame, the client width stands in for it.
    const int outer = qMax(frameGeometry().width(), width());
    if (auto* w = control(QStringLiteral("BtExit"))) w->move(outer - 80, 511);
    if (auto* w = control(QStringLiteral("BTCon"))) w->move(outer - 190, 511);
    if (auto* w = control(QStringLiteral("BtDiscon"))) w->move(outer - 190, 511);
}

void TFCOMM::RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowHandlerError(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowHandlerError(QStringLiteral("An unexpected error occurred."));
    }
}

void TFCOMM::ShowHandlerError(const QString& text) {
    try {
        dialogs_->ShowError(this, text, windowTitle());
    } catch (...) {
        // The error box itself failed: nothing more can be shown.
    }
}

void TFCOMM::FormCreate() {
    // 1. The chart pager, 100 points a page.
    state_.chart.ChartControl = std::make_unique<TChartControl>(Chtshow->Facility(), 100);
    // 2. The user's number format, 3. the decimal separator.
    state_.LocaleSettings = QLocale::system();
    state_.protocol.decimalSeparator = ReadDecimalSeparator();
    // 4. The profile defaults.
    state_.profile = MeterProfile{};
    state_.protocol.measurement = MeasurementTracker{};
    // 5. The record table, empty; 6. the numbering and the record limit.
    state_.recording.cds1.Empty();
    state_.recording.cds1Open = true;
    state_.recording.recorder.nextRecordNo = 1;
    ChooseRecordLimit(kDefaultRecordLimitItem);
    // 7. The series selector and the series shown.
    ComboBox1->setCurrentIndex(0);
    Chtshow->ShowSeries(0);
    Chtshow->ShowSeries(SeriesForFill(BtFill->isChecked()));
    // 8. The rest of the profile, 9. the processor suffix.
    ApplyMeterProfile();
    setWindowTitle(windowTitle() + CaptionSuffix(machineProbe_));
}

void TFCOMM::ApplyMeterProfile() {
    state_.profile = MeterProfile{};
    state_.protocol.measurement.previousUnitText = QStringLiteral("113");
    // The variant switch: checked, the port's bytes go to the packet assembler (an
    // error they raise is shown like that of any other handler); cleared, the port
    // has no receive handler.
    COMM2_->OnReceiveData = nullptr;
    if (IFOrvex->isChecked()) {
        COMM2_->OnReceiveData = [this](TSerialPortDriver* sender, const std::uint8_t* data,
                                       int size) { OrvexDATA(sender, data, size); };
        setWindowTitle(kTitle);
        state_.profile.profileCode = QStringLiteral("22");
    }
    if (const MeterProfile* row = FindMeterProfile(state_.profile.profileCode)) {
        state_.profile = *row;
        Setmax->setText(row->setmaxText);
        SetMin->setText(row->setMinText);
        if (row->barMaximum) Panel1->SetBarMaximum(*row->barMaximum);
    }
    if (state_.chart.ChartControl) {
        ChartControl().SetAxisMax(state_.profile.fullScaleCounts);
        ChartControl().SetAxisMin(-state_.profile.fullScaleCounts);
    }
}

void TFCOMM::BitBtn1Click() {
    if (!dialogs_->AskYesNo(this,
                            QStringLiteral("Are you sure that you want to quit this application?")))
        return;
    emit terminationRequested();
    CloseRecordTable();
}

void TFCOMM::BtExit1Click() {
    CloseRecordTable();
    emit terminationRequested();
}

void TFCOMM::CloseRecordTable() {
    // A closed table lets go of its rows and records nothing more.
    state_.recording.cds1Open = false;
    state_.recording.cds1.Empty();
}

void TFCOMM::ReplaceEditText(QLineEdit* edit, const QString& text, int selStart, int selLength) {
    edit->setText(text);
    edit->setSelection(selStart, selLength);
}

void TFCOMM::ConnectRecording() {
    // The limit edits: key filter and change handler, shared by T1HI and T1LO.
    for (QLineEdit* limit : {T1HI, T1LO}) {
        new TKeyFilter(limit, [this](QChar key) {
            return T1HIKeyPress(key, state_.protocol.decimalSeparator);
        });
        On(limit, &QLineEdit::textChanged, [this, limit] {
            if (auto r = T1HIChange(limit->text(), state_.protocol.decimalSeparator))
                ReplaceEditText(limit, r->text, r->selStart, r->selLength);
        });
    }
    // The sampling interval edit; its key filter also serves the page-size edit.
    for (QLineEdit* edit : {RecordSITime, Maxrecord})
        new TKeyFilter(edit, [](QChar key) { return RecordSITimeKeyPress(key); });
    On(RecordSITime, &QLineEdit::textChanged, [this] {
        if (auto r = RecordSITimeChange(RecordSITime->text()))
            ReplaceEditText(RecordSITime, r->text, r->selStart, r->selLength);
    });
    On(Trecord, &QTimer::timeout, [this] { TrecordTimer(); });

    On(control<QToolButton>(QStringLiteral("RecordNew")), &QToolButton::clicked,
       [this] { RecordNewClick(); });
    On(action(QStringLiteral("New1")), &QAction::triggered, [this] { RecordNewClick(); });
    for (int i = 0; i < int(kRecordLimitItems.size()); ++i)
        On(action(QString::fromLatin1(kRecordLimitItems[i].objectName)), &QAction::triggered,
           [this, i] { ChooseRecordLimit(i); });
}

void TFCOMM::ChooseRecordLimit(int item) {
    state_.recording.recorder.ChooseLimitItem(item);
    for (int i = 0; i < int(kRecordLimitItems.size()); ++i)
        action(QString::fromLatin1(kRecordLimitItems[i].objectName))->setChecked(i == item);
}

void TFCOMM::TrecordTimer() {
    state_.recording.recorder.TrecordTimer(RecordSI->isChecked());
}

void TFCOMM::RecordNewClick() {
    if (state_.recording.recorder.RecordNewClick(
            [this] { return dialogs_->AskYesNo(this, QString::fromLatin1(kRecordNewQuestion)); },
            [this] { ClearChartPoints(); },
            [this] { control<QToolButton>(QStringLiteral("BtNew"))->click(); }))
        RestartJournal(0);
}

void TFCOMM::JudgeReading() {
    const MeterReading& r = state_.protocol.reading;
    const Verdict verdict =
        orvex::JudgeReading(r.valueText, FrameDigits(state_.protocol.assembler.frameText()),
                            T1LO->text(), T1HI->text(), state_.protocol.decimalSeparator);
    state_.recording.verdictText = VerdictText(verdict);
    // T1VALUE and the verdict display follow at the next refresh.
    verdictPass_ = verdict == Verdict::Pass;
    verdictDirty_ = true;
    viewRefresh_->Request();
}

void TFCOMM::ShowVerdict() {
    T1VALUE->setText(state_.protocol.reading.valueText);
    const QString& text = state_.recording.verdictText;
    // The verdict display changes only when the verdict does (a palette change
    // restyles the widget, which is not worth doing for every frame).
    if (judge->text() == text) return;
    const QColor colour = VerdictColor(verdictPass_ ? Verdict::Pass : Verdict::Fail);
    QPalette valuePal = T1VALUE->palette();
    valuePal.setColor(QPalette::Base, colour);
    T1VALUE->setPalette(valuePal);
    Shape1->setBrushColor(colour);
    QPalette judgePal = judge->palette();
    judgePal.setColor(QPalette::Window, colour);
    judge->setPalette(judgePal);
    judge->setText(text);
    judge->adjustSize();
}

void TFCOMM::INDataToTable() {
    if (!state_.recording.cds1Open) return;
    RecordInput in;
    in.SetReading(state_.protocol.reading);
    in.verdictText = state_.recording.verdictText;
    in.recordSIChecked = RecordSI->isChecked();
    in.repeatSetChecked = RepeatSet->isChecked();
    in.recordSITimeText = RecordSITime->text();
    SetRecordMomentNow(in);
    const RecordOutcome outcome = state_.recording.recorder.INDataToTable(in);
    AfterRecording(outcome);
    if (outcome.feedChart) AddChartValue(state_.protocol.reading.scaledValue);
}

void TFCOMM::ConnectChart() {
    const struct {
        const char* button;
        const char* item;
        void (TFCOMM::*handler)();
    } commands[] = {{"BtFirst", "First", &TFCOMM::BtFirstClick},
                    {"BTPrevious", "Previous", &TFCOMM::BTPreviousClick},
                    {"BtNext", "Next", &TFCOMM::BtNextClick},
                    {"BTlast", "Last", &TFCOMM::BTlastClick},
                    {"BtSave", "Save", &TFCOMM::BtSaveClick},
                    {"BtNew", "New", &TFCOMM::BtNewClick}};
    // Each command of the chart toolbar is also an item of the "Graphic" menu.
    for (const auto& p : commands) {
        auto handler = p.handler;
        On(control<QToolButton>(QString::fromLatin1(p.button)), &QToolButton::clicked,
           [this, handler] { (this->*handler)(); });
        On(action(QString::fromLatin1(p.item)), &QAction::triggered,
           [this, handler] { (this->*handler)(); });
    }
    On(Maxrecord, &QLineEdit::textChanged, [this] { MaxrecordChange(); });
    On(Timer2, &QTimer::timeout, [this] { Timer2Timer(); });
    for (QCheckBox* box : {BtFill, RepeatSet, multirange})
        On(box, &QCheckBox::clicked, [this] { btFillClick(); });
    On(action(QStringLiteral("Fill")), &QAction::triggered, [this] { FillClick(); });
    for (const char* name : {"TbFd", "TbSx"})
        On(control<TClickPanel>(QString::fromLatin1(name)), &TClickPanel::clicked,
           [this] { TbFdClick(); });
    for (QLineEdit* edit : {Setmax, SetMin})
        new TKeyFilter(edit, [](QChar key) { return SetmaxKeyAccepted(key) ? key : QChar(); });
    On(Setmax, &QLineEdit::textChanged, [this] { SetmaxExit(); });
    On(SetMaxB, &QCheckBox::clicked, [this] { SetmaxExit(); });
    On(SetMin, &QLineEdit::textChanged, [this] { SetMinExit(); });
    On(SetMinB, &QCheckBox::clicked, [this] { SetMinExit(); });
}

void TFCOMM::ConnectLink(const WindowOptions& options) {
    COMM2_ = std::make_unique<TSerialPortDriver>();
    COMM2_->setObjectName(QStringLiteral("COMM2"));
    ConfigureAsCOMM2(*COMM2_);
    for (int i = 0; i < int(options.portPaths.size()); ++i)
        if (!options.portPaths[i].isEmpty())
            COMM2_->SetPortDevicePath(static_cast<TSerialPortDriver::TComPortNumber>(i),
                                      options.portPaths[i]);
    connection_ = std::make_unique<TConnectionControl>(*COMM2_);
    connect(connection_.get(), &TConnectionControl::viewChanged, this,
            [this](const TLinkViewState& view) { ShowLinkView(view); });

    const char* items[] = {"COM11", "COM21", "COM31", "COM41"};
    for (int i = 0; i < 4; ++i) {
        On(action(QString::fromLatin1(items[i])), &QAction::triggered, [this, i] {
            switch (i) {
            case 0:
                connection_->COM11Click();
                break;
            case 1:
                connection_->COM21Click();
                break;
            case 2:
                connection_->COM31Click();
                break;
            default:
                connection_->COM41Click();
                break;
            }
            // The item unchecked itself if it was the checked one, and the view
            // state did not change: show it again.
            ShowLinkView(connection_->view());
        });
        On(control<TClickPanel>(QStringLiteral("BtCOM%1").arg(i + 1)), &TClickPanel::clicked,
           [this, i] { connection_->BtCOMClick(i); });
    }
    On(action(QStringLiteral("START1")), &QAction::triggered,
       [this] { connection_->BTCon1Click(); });
    On(control<TClickPanel>(QStringLiteral("BTCon")), &TClickPanel::clicked,
       [this] { connection_->BTCon1Click(); });
    On(action(QStringLiteral("STOP1")), &QAction::triggered,
       [this] { connection_->BtDiscon1Click(); });
    On(control<TClickPanel>(QStringLiteral("BtDiscon")), &TClickPanel::clicked,
       [this] { connection_->BtDiscon1Click(); });
    auto* comCon = control<QPushButton>(QStringLiteral("COMCon"));
    On(comCon, &QPushButton::clicked,
       [this, comCon] { connection_->COMConClick(comCon->isChecked()); });
    On(control<QPushButton>(QStringLiteral("USBCon")), &QPushButton::clicked,
       [this] { USBConClick(); });
    ConnectCable(options);

    // The receive handler is installed by ApplyMeterProfile, as the variant says.
    ShowLinkView(connection_->view());
}

namespace {

// A progress dialog that appears only for long saves and loads; frames go on
// being recorded while it is open.  Cancelling it cancels the work.
class TFileProgress {
  public:
    // `showFrom`: the least amount of work (rows to save, bytes to load) worth a dialog.
    TFileProgress(QWidget* parent, QString label, qint64 showFrom)
        : parent_(parent), label_(std::move(label)), showFrom_(showFrom) {}

    bool operator()(qint64 done, qint64 total) {
        // Past the end (a load still adding the rows of a file it has read): the
        // dialog has closed; the event loop still runs, so the link is served.
        if (complete_) {
            // No user input meanwhile: "New", "Open" or closing the window must
            // not come between the slices of one file.
            QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            return true;
        }
        if (!dialog_) {
            if (total < showFrom_) return true;
            dialog_ = std::make_unique<QProgressDialog>(label_, QStringLiteral("Cancel"), 0, 1000,
                                                        parent_);
            dialog_->setObjectName(QStringLiteral("FileProgress"));
            dialog_->setWindowModality(Qt::WindowModal);
            dialog_->setMinimumDuration(300);
        }
        dialog_->setValue(total > 0 ? int(done * 1000 / total) : 0);
        QApplication::processEvents();
        complete_ = done >= total;
        return !dialog_->wasCanceled();
    }

    // Gone before any message of the work appears (it would cover the message's OK).
    void Close() { dialog_.reset(); }

  private:
    QWidget* parent_;
    QString label_;
    qint64 showFrom_;
    std::unique_ptr<QProgressDialog> dialog_;
    bool complete_ = false;
};

} // namespace

void TFCOMM::ConnectFiles() {
    On(control<QToolButton>(QStringLiteral("saveas")), &QToolButton::clicked,
       [this] { saveasClick(); });
    On(action(QStringLiteral("Save1")), &QAction::triggered, [this] { saveasClick(); });
    On(control<QToolButton>(QStringLiteral("OpenDataFiles")), &QToolButton::clicked,
       [this] { SpeedButton2Click(); });
    On(control<QToolButton>(QStringLiteral("BtPrint")), &QToolButton::clicked,
       [this] { BtPrintClick(); });
    On(control<QToolButton>(QStringLiteral("Print")), &QToolButton::clicked,
       [this] { PrintClick(); });
}

void TFCOMM::saveasClick() {
    FileDialogRequest request;
    request.caption = QStringLiteral("Save");
    request.filter = SaveDialogFilter();
    request.defaultSuffix = SaveDefaultSuffix();
    request.suffixForFilter = [](const QString& chosen) { return SaveSuffixForFilter(chosen); };
    request.confirmOverwrite = true;
    const QString name = dialogs_->AskSaveFileName(this, request);
    if (name.isEmpty()) return;
    TFileProgress progress(this, QStringLiteral("Saving %1").arg(name), 100000);
    const FileResult r = SaveTable(state_.recording.cds1, name, std::ref(progress));
    progress.Close();
    if (r.cancelled()) return;          // the target was left as it was
    if (r.ok()) RestartJournal(r.rows); // the file holds the rows up to r.rows
    if (IsXmlFileName(name)) {
        if (r.failed()) ShowHandlerError(XmlSaveFailedMessage(name, r.reason));
        return;
    }
    dialogs_->Inform(this, r.ok() ? SaveSucceededMessage(name) : SaveFailedMessage(name));
}

void TFCOMM::SpeedButton2Click() {
    FileDialogRequest request;
    request.caption = QStringLiteral("Open");
    request.filter = OpenDialogFilter();
    request.initialName = lastOpenedFile_;
    const QString name = dialogs_->AskOpenFileName(this, request);
    if (name.isEmpty()) return;
    lastOpenedFile_ = name;
    TFileProgress progress(this, QStringLiteral("Loading %1").arg(name), 4 << 20);
    const FileResult r = LoadDataFile(name, state_.recording.cds1, std::ref(progress));
    progress.Close();
    if (r.failed()) dialogs_->ShowError(this, LoadFailedMessage(), LoadFailedCaption());
}

// The report of the rows the table holds now, in a modal preview from which it
// is printed; an empty table has nothing to show.
void TFCOMM::BtPrintClick() {
    const TDataReport DataReport1(state_.recording.cds1);
    if (DataReport1.pageCount() == 0) {
        dialogs_->Inform(this, NothingToPrintMessage());
        return;
    }
    TReportPreview preview(DataReport1, *dialogs_, this);
    preview.exec();
}

void TFCOMM::PrintClick() {}

void TFCOMM::ShowLinkView(const TLinkViewState& v) {
    action(QStringLiteral("ComSetup1"))->setEnabled(v.ComSetup1Enabled);
    const char* items[] = {"COM11", "COM21", "COM31", "COM41"};
    for (int i = 0; i < 4; ++i) {
        action(QString::fromLatin1(items[i]))->setChecked(v.comItemChecked[i]);
        QWidget* panel = control(QStringLiteral("BtCOM%1").arg(i + 1));
        panel->setVisible(v.btComVisible[i]);
        panel->setEnabled(v.btComEnabled[i]);
    }
    QAction* start = action(QStringLiteral("START1"));
    start->setChecked(v.START1Checked);
    start->setEnabled(v.START1Enabled);
    QAction* stop = action(QStringLiteral("STOP1"));
    stop->setChecked(v.STOP1Checked);
    stop->setEnabled(v.STOP1Enabled);
    auto* comCon = control<QPushButton>(QStringLiteral("COMCon"));
    const QSignalBlocker blockCom(comCon);
    comCon->setChecked(v.COMConDown);
    comCon->setVisible(v.COMConVisible);
    auto* usbCon = control<QPushButton>(QStringLiteral("USBCon"));
    const QSignalBlocker blockUsb(usbCon);
    usbCon->setChecked(v.USBConDown);
    usbCon->setVisible(v.USBConVisible);
    usbCon->setText(v.USBConCaption);
    control(QStringLiteral("BTCon"))->setVisible(v.BTConVisible);
    control(QStringLiteral("BtDiscon"))->setVisible(v.BtDisconVisible);
    CONok->setVisible(v.CONokVisible);
    CONokN->setVisible(v.CONokNVisible);
}

void TFCOMM::USBConClick() {
    connection_->USBConClick(control<QPushButton>(QStringLiteral("USBCon"))->isChecked(),
                             IFOrvex->isChecked());
}

void TFCOMM::ShowPage() {
    Bt10->setText(QString::number(ChartControl().GetPage()));
}

void TFCOMM::AddChartValue(double value) {
    ChartControl().AddValue(value);
    // Bt10 shows the page at the next refresh.
    pageDirty_ = true;
    viewRefresh_->Request();
}

void TFCOMM::ClearChartPoints() {
    ChartControl().ClearPoints();
    ShowPage();
}

void TFCOMM::BtFirstClick() {
    ChartControl().FirstPage();
    ShowPage();
}

void TFCOMM::BTPreviousClick() {
    ChartControl().PreviousPage();
    ShowPage();
}

void TFCOMM::BtNextClick() {
    ChartControl().NextPage();
    ShowPage();
}

void TFCOMM::BTlastClick() {
    ChartControl().LastPage();
    ShowPage();
}

void TFCOMM::MaxrecordChange() {
    Timer2->stop();
    Timer2->start();
}

void TFCOMM::Timer2Timer() {
    Timer2->stop();
    // A size below 1 is refused by the pager, which keeps its page size; the edit
    // shows that size again.
    if (!ChartControl().SetPageSize(PageSizeFromText(Maxrecord->text()))) {
        Maxrecord->setText(QString::number(ChartControl().GetPageSize()));
        Timer2->stop(); // the size in force needs no applying
    }
    ShowPage();
}

void TFCOMM::btFillClick() {
    const FillState fill = BtFillClicked(BtFill->isChecked());
    action(QStringLiteral("Fill"))->setChecked(fill.menuFillChecked);
    Chtshow->ShowSeries(fill.series);
}

void TFCOMM::FillClick() {
    const FillState fill = FillMenuClicked(BtFill->isChecked());
    action(QStringLiteral("Fill"))->setChecked(fill.menuFillChecked);
    BtFill->setChecked(fill.btFillChecked);
    Chtshow->ShowSeries(fill.series);
}

void TFCOMM::BtNewClick() {
    // The pager starts again as well (as "Record" -> "New" does), so the new points
    // are on the first page and in view.
    ClearChartPoints();
    Chtshow->BtNewClick(BtFill->isChecked());
}

void TFCOMM::TbFdClick() {
    ChartState& c = state_.chart;
    // Measured against the client area: the frame differs between window managers
    // and Qt often does not know it.
    const ChartLayout layout = ToggleChartLayout(
        Chtshow->geometry(), ReferenceOuterSize(client_->size()), c.SavedChartBounds);
    SetVisibleKeepingFocus(Panel1, layout.panel1Visible);
    SetVisibleKeepingFocus(control(QStringLiteral("TbFd")), layout.tbFdVisible);
    SetVisibleKeepingFocus(control(QStringLiteral("TbSx")), layout.tbSxVisible);
    c.SavedChartBounds = layout.saved;
    Chtshow->setGeometry(layout.chart);
    SetVisibleKeepingFocus(Panel6, layout.panel6Visible);
    Panel5->move(layout.panel5Pos);
    Panel5->raise();
}

void TFCOMM::BtSaveClick() {
    FileDialogRequest request;
    request.caption = QStringLiteral("Save Picture");
    request.filter = QStringLiteral("Bitmaps (*.bmp)");
    request.defaultSuffix = QStringLiteral("bmp");
    request.confirmOverwrite = true;
    const QString chosen = dialogs_->AskSaveFileName(this, request);
    if (chosen.isEmpty()) return;
    const QString fileName = BitmapFileName(chosen);
    // The dialog asked about the name as typed; the picture goes under another.
    if (fileName != chosen && QFileInfo::exists(fileName) &&
        !dialogs_->AskYesNo(
            this, QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(fileName),
            true))
        return;
    QString error;
    if (!Chtshow->SaveBitmap(fileName, &error)) {
        ShowHandlerError(error);
        return;
    }
    dialogs_->Inform(this, SaveSuccessText(fileName));
}

void TFCOMM::SetmaxExit() {
    state_.protocol.setMaxLimit = AlarmLimitFromText(Setmax->text());
}

void TFCOMM::SetMinExit() {
    state_.protocol.setMinLimit = AlarmLimitFromText(SetMin->text());
}

void TFCOMM::OrvexDATA(QObject*, const std::uint8_t* data, int count) {
    RunHandler([&] { state_.protocol.assembler.OrvexDATA(data, count); });
}

void TFCOMM::LcdDisplayOrvex() {
    ProtocolState& p = state_.protocol;
    const QString frame = p.assembler.frameText();
    // 1. The locale's separator and format, read afresh for every frame.
    p.decimalSeparator = ReadDecimalSeparator();
    state_.LocaleSettings = QLocale::system();
    // 2. The limit edits take the locale's separator.
    for (QLineEdit* limit : {T1HI, T1LO}) {
        const QString normalised = NormaliseLimitSeparator(limit->text(), p.decimalSeparator);
        if (normalised != limit->text()) limit->setText(normalised);
    }
    // 3. The link is alive: lamp on, watchdog zeroed.
    connection_->FrameDecoded();

    DecodeResult decoded = DecodeFrame(frame, p.decimalSeparator, state_.profile.fullScaleCounts,
                                       state_.profile.barOverloadPosition);
    // 4. The diagnostic trace.
    Panel1->AppendTrace(frame, decoded.reading.bitText);
    if (!decoded.ok) {
        // Not judged, recorded or plotted.  When the frame got as far as its
        // indicators (only its digits could not be read as a number) the panel
        // shows what the meter sent, as the meter itself does; otherwise it keeps
        // the previous reading.  The next packet is assembled afresh either way.
        ++p.undecodableFrames;
        p.lastDecodeError = decoded.error;
        if (!decoded.reading.rangeModeText.isEmpty()) {
            ShowReadingAtRefresh(std::move(decoded.reading));
            viewRefresh_->Request();
        }
        return;
    }
    ++p.decodedFrames;
    p.reading = std::move(decoded.reading);
    const MeterReading& r = p.reading;

    // 18. The chart's vertical range follows the decimal point.
    for (double range : r.axisRanges) {
        ChartControl().SetAxisMax(range);
        ChartControl().SetAxisMin(-range);
    }
    // 20. The alarm.
    if (AlarmCrossed(r.counts, p.setMaxLimit, SetMaxB->isChecked(), p.setMinLimit,
                     SetMinB->isChecked()))
        QApplication::beep();
    // 21. A change of measurement re-selects the series and, unless "Continue
    // Record" is checked, starts the plotted points afresh.
    if (p.measurement.Observe(r)) {
        Chtshow->ShowSeries(SeriesForFill(BtFill->isChecked()));
        if (!multirange->isChecked()) BtNewClick();
    }
    // 22. The panel (drawn at the next refresh, like the bar graph of step 25).
    ShowReadingAtRefresh(r);
    // 23. The verdict; 24. the record table and the chart.
    JudgeReading();
    INDataToTable();
    // 25. The bar graph.
    barPosition_ = r.barPosition;
    barDirty_ = true;
    viewRefresh_->Request();
}

void TFCOMM::FlushView() {
    viewRefresh_->Flush();
}

void TFCOMM::ShowReadingAtRefresh(MeterReading reading) {
    panelReading_ = std::move(reading);
    panelDirty_ = true;
    // The data picture is shown with the frame: a link closed before the refresh
    // hides it, and the refresh must not bring it back.
    Panel1->LCDsend()->show();
}

void TFCOMM::RefreshView() {
    if (std::exchange(panelDirty_, false)) {
        QWidget* send = Panel1->LCDsend();
        const bool sendShown = !send->isHidden();
        Panel1->RenderReading(panelReading_);
        send->setVisible(sendShown);
    }
    if (std::exchange(barDirty_, false)) Panel1->SetBarPosition(barPosition_);
    if (std::exchange(verdictDirty_, false)) ShowVerdict();
    if (std::exchange(pageDirty_, false)) ShowPage();
    DBGrid1->Refresh();
    Chtshow->Redraw();
}

} // namespace orvex
