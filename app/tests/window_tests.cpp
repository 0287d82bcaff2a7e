// The main window: start state, caption, quit paths, the error box of event
// handlers, and frames fed through the receive handler onto the LCD panel.

#include "app/HostSuffix.h"
#include "app/TFCOMM.h"
#include "app/Widgets.h"
#include "app/tests/WindowFixture.h"
#include "display/LcdPanel.h"
#include "protocol/PacketEncoder.h"
#include "recording/RecordGrid.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <vector>

TEST(CaptionSuffix, FollowsTheOperatingSystemsProcessor) {
    const struct {
        const char* machine;
        const char* suffix;
    } cases[] = {{"x86_64", "(x64)"},      {"i686", "(x86)"},      {"i386", "(x86)"},
                 {"aarch64", "(aarch64)"}, {"armv7l", "(armv7l)"}, {"", "(x86)"}};
    for (const auto& c : cases) {
        EXPECT_EQ(CaptionSuffix([&] { return QString::fromLatin1(c.machine); }),
                  QString::fromLatin1(c.suffix))
            << c.machine;
    }
}

// The program's style draws the menu bar's overflow chevron itself and leaves
// every other picture to the platform's style.
TEST(WindowStyle, DrawsTheOverflowChevronAndLeavesOtherPicturesAlone) {
    TWindowStyle style;
    const QImage chevron =
        style.standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton).pixmap(16, 16).toImage();
    ASSERT_FALSE(chevron.isNull());
    int inked = 0;
    for (int y = 0; y < chevron.height(); ++y)
        for (int x = 0; x < chevron.width(); ++x)
            inked += qAlpha(chevron.pixel(x, y)) > 128 ? 1 : 0;
    EXPECT_GT(inked, 8);

    const auto picture = [](const QStyle* s) {
        return s->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32).toImage();
    };
    EXPECT_EQ(picture(&style), picture(QApplication::style()));
}

TEST_F(Window, StartsInItsDesignState) {
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Orvex Interface Program Ver 4.01(x64)"));
    EXPECT_EQ(w->centralWidget()->size(), QSize(714, 477));
    EXPECT_EQ(w->minimumSize(), w->maximumSize()) << "the window cannot be resized";
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);

    for (const char* checked : {"COM11", "Fill", "N100001"})
        EXPECT_TRUE(w->action(QString::fromLatin1(checked))->isChecked()) << checked;
    for (const char* unchecked : {"COM21", "COM31", "COM41", "START1", "STOP1", "N10001", "N50001",
                                  "N500001", "N1000001", "limitess"})
        EXPECT_FALSE(w->action(QString::fromLatin1(unchecked))->isChecked()) << unchecked;
    EXPECT_FALSE(w->action(QStringLiteral("STOP1"))->isEnabled());
    EXPECT_TRUE(w->action(QStringLiteral("START1"))->isEnabled());

    EXPECT_TRUE(Shown("BtCOM1"));
    for (const char* hidden : {"BtCOM2", "BtCOM3", "BtCOM4", "BtDiscon", "TbSx", "CONok", "USBtxt",
                               "Print", "ComboBox1"})
        EXPECT_FALSE(Shown(hidden)) << hidden;
    for (const char* shown : {"CONokN", "TbFd", "BTCon", "BtExit", "multirange", "IFOrvex"})
        EXPECT_TRUE(Shown(shown)) << shown;
    EXPECT_FALSE(w->control<QPushButton>(QStringLiteral("COMCon"))->isChecked());
    EXPECT_FALSE(w->control<QPushButton>(QStringLiteral("USBCon"))->isChecked());

    EXPECT_EQ(w->control<QToolButton>(QStringLiteral("Bt10"))->text(), QStringLiteral("1"));
    EXPECT_EQ(w->control<QLineEdit>(QStringLiteral("T1HI"))->text(), QStringLiteral("22000"));
    EXPECT_EQ(w->control<QLineEdit>(QStringLiteral("T1LO"))->text(), QStringLiteral("-22000"));
    EXPECT_EQ(w->control<QLineEdit>(QStringLiteral("Setmax"))->text(), QStringLiteral("22000"));
    EXPECT_EQ(w->control<QLineEdit>(QStringLiteral("SetMin"))->text(), QStringLiteral("-22000"));
    EXPECT_EQ(w->control<QLineEdit>(QStringLiteral("Maxrecord"))->text(), QStringLiteral("100"));
    EXPECT_EQ(w->control<QLineEdit>(QStringLiteral("RecordSITime"))->text(), QStringLiteral("10"));
    EXPECT_TRUE(w->control<QCheckBox>(QStringLiteral("RepeatSet"))->isChecked());
    EXPECT_FALSE(w->control<QCheckBox>(QStringLiteral("RecordSI"))->isChecked());

    // The LCD panel before the first frame: 22000, nothing lit, bar at 20 of 22.
    EXPECT_EQ(Caption("LcdD0") + Caption("LcdDa") + Caption("LcdDb") + Caption("LcdDc") +
                  Caption("LcdDd"),
              QStringLiteral("22000"));
    auto* bar = w->control<QProgressBar>(QStringLiteral("PBar2"));
    EXPECT_EQ(bar->value(), 20);
    EXPECT_EQ(bar->maximum(), 22);

    const MeterProfile& profile = w->state().profile;
    EXPECT_EQ(profile.profileCode, QStringLiteral("22"));
    EXPECT_EQ(profile.fullScaleCounts, 22000);
    EXPECT_EQ(profile.barOverloadPosition, 22);
    EXPECT_EQ(w->state().protocol.measurement.previousUnitText, QStringLiteral("113"));
}

TEST_F(Window, OnlyTheFileButtonsAndLimitEditsShowTooltips) {
    for (const char* name : {"RecordNew", "OpenDataFiles", "saveas", "T1HI", "T1LO"})
        EXPECT_FALSE(w->control(QString::fromLatin1(name))->toolTip().isEmpty()) << name;
    EXPECT_EQ(w->control(QStringLiteral("RecordNew"))->toolTip(), QStringLiteral("Close Data"));
    EXPECT_EQ(w->control(QStringLiteral("T1HI"))->toolTip(), QStringLiteral("Can't for empty"));
    for (const char* name : {"BtSave", "BtFirst", "BTPrevious", "Bt10", "BtNext", "BTlast", "TbFd",
                             "TbSx", "BtFill", "USBCon", "BtPrint", "RepeatSet"})
        EXPECT_TRUE(w->control(QString::fromLatin1(name))->toolTip().isEmpty()) << name;
}

TEST_F(Window, ControlsAreAtTheirPlaces) {
    const struct {
        const char* name;
        QRect rect;
    } places[] = {
        {"Panel1", {3, 28, 334, 181}},        {"Panel4", {340, 30, 371, 132}},
        {"Panel5", {341, 166, 372, 38}},      {"Panel6", {5, -4, 707, 34}},
        {"DBGrid1", {1, 232, 334, 241}},      {"Chtshow", {336, 204, 376, 269}},
        {"COMCon", {66, 5, 152, 25}},         {"USBCon", {221, 6, 119, 25}},
        {"BitBtn1", {605, 5, 89, 25}},        {"T1HI", {112, 16, 81, 22}},
        {"T1VALUE", {112, 54, 129, 32}},      {"Shape1", {245, 8, 113, 121}},
        {"Maxrecord", {91, 2, 49, 21}},       {"Bt10", {227, 3, 25, 21}},
        {"RecordSITime", {157, 210, 27, 21}}, {"BtPrint", {312, 210, 22, 21}},
    };
    for (const auto& p : places)
        EXPECT_EQ(w->control(QString::fromLatin1(p.name))->geometry(), p.rect) << p.name;
    // Controls that are never seen lie beyond the client area's bottom or right edge.
    for (const char* name : {"BTCon", "BtExit", "BtNew", "SetMaxB", "Setmax", "multirange",
                             "IFOrvex", "ReadBtn", "DevListBox", "HistoryListBox"}) {
        const QRect r = w->control(QString::fromLatin1(name))->geometry();
        EXPECT_TRUE(r.left() >= TFCOMM::kClientWidth || r.top() >= TFCOMM::kClientHeight) << name;
    }
}

// Fonts, colours and geometries of the layout where they went wrong before: the
// grid's regular fonts and columns that hold their texts, the silver Fill box, the
// record toolbar's captions around the interval edit, the link lamp inside its
// panel, whole grid rows while following the newest, and the enlarged chart
// covering what lies under it.
TEST_F(Window, LooksAsLaidOut) {
    w->show();
    std::vector<PacketFields> frames(100, Reading({1, 2, 3, 4, 5}, 11, 0));
    Feed(frames);
    QApplication::processEvents();
    auto* grid = w->control<TRecordGrid>(QStringLiteral("DBGrid1"));
    const QFont unitFont =
        qvariant_cast<QFont>(grid->model()->index(0, 4).data(Qt::FontRole)).resolve(grid->font());
    auto fontOf = [&](const char* name) { return w->control(QString::fromLatin1(name))->font(); };

    // Fonts: the family asked for, its pixel height, bold, italic.
    const struct {
        const char* what;
        QFont font;
        const char* family;
        int pixels;
        bool bold, italic;
    } fonts[] = {
        {"window", w->font(), "MS Sans Serif", 11, true, false},
        {"grid cells", grid->font(), "Arial", 12, false, false},
        {"grid titles", grid->horizontalHeader()->font(), "MS Sans Serif", 11, false, false},
        {"grid unit column", unitFont, "SEGMO-A2", 12, false, false},
        {"RepeatSet", fontOf("RepeatSet"), "MS Sans Serif", 11, false, false},
        {"RecordSI", fontOf("RecordSI"), "MS Sans Serif", 11, false, false},
        {"BtFill", fontOf("BtFill"), "MS Sans Serif", 13, false, false},
        {"T1HI", fontOf("T1HI"), "Arial", 11, true, false},
        {"T1VALUE", fontOf("T1VALUE"), "Arial", 21, true, false},
        {"BtCOM1", fontOf("BtCOM1"), "Arial", 16, true, false},
        {"COMCon", fontOf("COMCon"), "Arial", 13, true, false},
        {"BitBtn1", fontOf("BitBtn1"), "Arial", 14, true, true},
    };
    for (const auto& f : fonts) {
        SCOPED_TRACE(f.what);
        EXPECT_EQ(f.font.family(), QString::fromLatin1(f.family));
        EXPECT_EQ(f.font.pixelSize(), f.pixels);
        EXPECT_EQ(f.font.bold(), f.bold);
        EXPECT_EQ(f.font.italic(), f.italic);
    }

    // The grid's columns hold their longest texts (one pixel of margin each side of
    // the text, one for the grid line).
    const int margin =
        2 * (grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1) + 1;
    const struct {
        int column;
        const char* texts;
    } columns[] = {{0, "100001"},
                   {1, "23:59:58 00:00:00 18:48:08"},
                   {2, "Temperature Frequency Diode Cont Cap Duty Ohm AC DC"},
                   {3, "-1.2345 -0.L 22000 -0.0001"},
                   {4, "% mF uA nF uF MHz kHz M* K* mV V) ? &__*"},
                   {5, "Pass Fail"}};
    for (const auto& c : columns) {
        const QFontMetrics metrics(c.column == 4 ? unitFont : grid->font());
        for (QString text : QString::fromLatin1(c.texts).split(QLatin1Char(' '))) {
            text.replace(QLatin1Char('_'), QLatin1Char(' '));
            EXPECT_LE(metrics.horizontalAdvance(text) + margin, grid->columnWidth(c.column))
                << "\"" << text.toStdString() << "\" in column " << c.column;
        }
        const QFontMetrics titles(grid->horizontalHeader()->font());
        EXPECT_LE(titles.horizontalAdvance(TRecordGridModel::ColumnTitle(c.column)) + margin,
                  grid->columnWidth(c.column));
    }

    // Colours: the silver of the Fill box, the page-size edit and the port panel.
    const QColor silver(192, 192, 192);
    auto corners = [](QWidget* widget, int inset) {
        const QImage image = widget->grab().toImage();
        const int r = image.width() - 1 - inset, b = image.height() - 1 - inset;
        return QList<QColor>{image.pixelColor(inset, inset), image.pixelColor(r, inset),
                             image.pixelColor(inset, b), image.pixelColor(r, b)};
    };
    const struct {
        const char* name;
        int inset; // pixels inside the control's own frame
    } silverControls[] = {{"BtFill", 0}, {"Maxrecord", 3}, {"BtCOM1", 2}};
    for (const auto& c : silverControls)
        for (const QColor& colour : corners(w->control(QString::fromLatin1(c.name)), c.inset))
            EXPECT_EQ(colour.name(), silver.name()) << c.name;

    // Geometries.
    const struct {
        const char* name;
        QRect rect;
    } places[] = {{"RepeatSet", {1, 210, 54, 20}},
                  {"RecordSI", {55, 210, 143, 20}},
                  {"BtFill", {24, 4, 44, 17}},
                  {"CONok", {342, 5, 24, 24}},
                  {"CONokN", {344, 5, 24, 24}}};
    for (const auto& p : places)
        EXPECT_EQ(w->control(QString::fromLatin1(p.name))->geometry(), p.rect) << p.name;

    // The record toolbar: "Sampling Interval" ends before the interval edit, "'S"
    // follows it inside the check box; "Repeat" ends before "Sampling Interval".
    auto captionLeft = [](QCheckBox* box) {
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        return box->x() +
               box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box).left();
    };
    auto* repeat = w->control<QCheckBox>(QStringLiteral("RepeatSet"));
    auto* interval = w->control<QCheckBox>(QStringLiteral("RecordSI"));
    const QRect edit = w->control(QStringLiteral("RecordSITime"))->geometry();
    const QFontMetrics caption(interval->font());
    const int left = captionLeft(interval);
    EXPECT_LE(left + caption.horizontalAdvance(QStringLiteral("Sampling Interval")), edit.left());
    const int s = left + caption.horizontalAdvance(QStringLiteral("Sampling Interval           "));
    EXPECT_GT(s, edit.right()) << "\"'S\" is not under the edit";
    EXPECT_LE(s + caption.horizontalAdvance(QStringLiteral("'S")), interval->geometry().right() + 1)
        << "\"'S\" is not cut by the check box";
    EXPECT_LE(captionLeft(repeat) + QFontMetrics(repeat->font()).horizontalAdvance(repeat->text()),
              repeat->geometry().right() + 1);

    // The link lamp keeps clear of its panel's frame.
    auto* panel4 = w->control<QFrame>(QStringLiteral("Panel4"));
    for (const char* name : {"CONok", "CONokN"}) {
        auto* lamp = w->control<QLabel>(QString::fromLatin1(name));
        EXPECT_TRUE(panel4->contentsRect().adjusted(1, 1, -1, -1).contains(lamp->geometry()))
            << name;
        EXPECT_LE(lamp->pixmap().width(), lamp->width()) << name;
        EXPECT_LE(lamp->pixmap().height(), lamp->height()) << name;
    }

    // The grid follows the newest row with whole rows: the first visible row is
    // not cut, the newest is in view.
    const int top = grid->rowAt(0);
    ASSERT_GE(top, 0);
    EXPECT_EQ(grid->visualRect(grid->model()->index(top, 0)).top(), 0)
        << "first visible row " << top;
    const QRect newest = grid->visualRect(grid->model()->index(99, 0));
    EXPECT_GE(newest.top(), 0);
    EXPECT_LE(newest.bottom(), grid->viewport()->height() - 1);

    // The enlarged chart covers the judge panel, the record toolbar and the grid up
    // to the client area's edges, whatever frame the window manager draws.
    QTest::mouseClick(w->control(QStringLiteral("TbFd")), Qt::LeftButton);
    const QRect chart = w->control(QStringLiteral("Chtshow"))->geometry();
    EXPECT_EQ(chart, QRect(2, 28, 710, 449));
    const QRect client(0, 0, TFCOMM::kClientWidth, TFCOMM::kClientHeight);
    for (const char* name :
         {"Panel4", "DBGrid1", "RepeatSet", "RecordSI", "RecordSITime", "BtPrint"})
        EXPECT_TRUE(chart.contains(w->control(QString::fromLatin1(name))->geometry() & client &
                                   QRect(2, 0, TFCOMM::kClientWidth, TFCOMM::kClientHeight)))
            << name;
    QTest::mouseClick(w->control(QStringLiteral("TbSx")), Qt::LeftButton);
    EXPECT_EQ(w->control(QStringLiteral("Chtshow"))->geometry(), QRect(336, 204, 376, 269));
}

TEST_F(Window, QuitAsksAndEndsOnlyOnYes) {
    QSignalSpy quit(w.get(), &TFCOMM::terminationRequested);
    auto* button = w->control<QPushButton>(QStringLiteral("BitBtn1"));

    dialogs.answers = {false};
    button->click();
    EXPECT_EQ(dialogs.questions,
              QStringList{QStringLiteral("Are you sure that you want to quit this application?")});
    EXPECT_EQ(quit.count(), 0);

    dialogs.answers = {true};
    button->click();
    EXPECT_EQ(quit.count(), 1);
}

TEST(WindowQuit, TheRealQuestionBoxAnsweredNoThenYes) {
    TFCOMM w; // the real Qt dialogs
    QSignalSpy quit(&w, &TFCOMM::terminationRequested);
    auto answer = [](QMessageBox::StandardButton which) {
        QTimer::singleShot(50, [which] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->text(),
                      QStringLiteral("Are you sure that you want to quit this application?"));
            box->button(which)->click();
        });
    };
    answer(QMessageBox::No);
    w.BitBtn1Click();
    EXPECT_EQ(quit.count(), 0);
    answer(QMessageBox::Yes);
    w.BitBtn1Click();
    EXPECT_EQ(quit.count(), 1);
}

TEST_F(Window, ExitAndTheCloseBoxAskNothing) {
    QSignalSpy quit(w.get(), &TFCOMM::terminationRequested);
    w->BtExit1Click();
    EXPECT_EQ(quit.count(), 1);
    w->show();
    EXPECT_TRUE(w->close());
    EXPECT_TRUE(dialogs.questions.isEmpty());
}

// "QUIT" answered Yes asks to end the program and then closes the record table;
// "Exit" closes the table first. A closed table has let go of its rows and
// records nothing more.
TEST(WindowQuit, BothQuitPathsCloseTheRecordTableInTheirOrder) {
    const struct {
        const char* path;
        bool openWhenEndRequested;
    } cases[] = {{"QUIT", true}, {"Exit", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        ScriptedDialogs dialogs;
        dialogs.answers = {true};
        WindowOptions options;
        options.dialogs = &dialogs;
        TFCOMM w(options);
        ASSERT_TRUE(w.state().recording.cds1Open);
        const Packet p = EncodePacket(Reading({1, 2, 3, 4, 5}, 11, 0));
        std::vector<std::uint8_t> bytes{0x0A};
        bytes.insert(bytes.end(), p.begin(), p.end());
        w.OrvexDATA(nullptr, bytes.data(), int(bytes.size()));
        ASSERT_EQ(w.state().recording.cds1.rowCount(), 1);

        int requests = 0;
        bool openThen = false;
        QObject::connect(&w, &TFCOMM::terminationRequested, [&] {
            ++requests;
            openThen = w.state().recording.cds1Open;
        });
        if (qstrcmp(c.path, "QUIT") == 0)
            w.control<QPushButton>(QStringLiteral("BitBtn1"))->click();
        else
            QTest::mouseClick(w.control(QStringLiteral("BtExit")), Qt::LeftButton);
        EXPECT_EQ(requests, 1);
        EXPECT_EQ(openThen, c.openWhenEndRequested);
        EXPECT_FALSE(w.state().recording.cds1Open);
        EXPECT_EQ(w.state().recording.cds1.rowCount(), 0);
        w.OrvexDATA(nullptr, p.data(), int(p.size())); // a frame before the program ends
        EXPECT_EQ(w.state().recording.cds1.rowCount(), 0) << "a closed table records nothing";
    }
}

TEST_F(Window, AnErrorInAHandlerIsShownAndTheProgramGoesOn) {
    bool after = false;
    w->RunHandler([] { throw std::runtime_error("'abc' is not a valid integer value"); });
    w->RunHandler([&] { after = true; });
    EXPECT_EQ(dialogs.errors, QStringList{QStringLiteral("'abc' is not a valid integer value")});
    EXPECT_TRUE(after);
}

TEST_F(Window, FramesRedrawThePanel) {
    // 01.234 V DC auto (point after d2): the leading zero is blanked.
    Feed({Reading({0, 1, 2, 3, 4}, 11, 1)});
    EXPECT_EQ(Caption("USBtxt"), QStringLiteral("A101234B000A0D"));
    EXPECT_FALSE(Shown("LcdD0"));
    EXPECT_EQ(Caption("LcdDa") + Caption("LcdDb") + Caption("LcdDc") + Caption("LcdDd"),
              QStringLiteral("1234"));
    EXPECT_TRUE(Shown("LcdP1"));
    EXPECT_TRUE(Shown("LcdV"));
    EXPECT_TRUE(Shown("LcdDc1"));
    EXPECT_TRUE(Shown("LcdAuto"));
    EXPECT_FALSE(Shown("LcdManu"));
    EXPECT_TRUE(Shown("LCDsend"));
    EXPECT_TRUE(Shown("CONok"));
    EXPECT_FALSE(Shown("CONokN"));
    EXPECT_EQ(w->control<QProgressBar>(QStringLiteral("PBar2"))->value(), 1);

    // Every indicator of the panel is shown exactly when the reading lights it.
    const MeterReading& r = w->state().protocol.reading;
    for (int i = 0; i < kIndicatorCount; ++i) {
        const auto ind = static_cast<Indicator>(i);
        EXPECT_EQ(Shown(IndicatorName(ind)), r.litSet.contains(ind)) << IndicatorName(ind);
    }

    // Overload, minus: nothing blanked, the bar at its overload position.
    Feed({Reading({0, 0, 0, 0, 0}, 11, 1, 10, 0x5)});
    EXPECT_EQ(w->state().protocol.reading.valueText, QStringLiteral("-0.L"));
    EXPECT_TRUE(Shown("LcdFH"));
    EXPECT_EQ(Caption("LcdDb"), QStringLiteral("@"));
    EXPECT_EQ(w->control<QProgressBar>(QStringLiteral("PBar2"))->value(), 22);
}

TEST_F(Window, AnUndecodableFrameIsNotRecordedAndTheNextFrameDecodes) {
    Feed({Reading({1, 2, 3, 4, 5}, 11, 0)});
    ASSERT_EQ(w->state().protocol.reading.valueText, QStringLiteral("1.2345"));
    // A digit "A" with no overload cannot be read as a number: the panel shows
    // what the meter sent, the reading and the table stay as they were.
    Feed({Reading({1, 0xA, 3, 4, 5}, 11, 0)});
    EXPECT_EQ(w->state().protocol.undecodableFrames, 1);
    EXPECT_EQ(Caption("LcdDa"), QStringLiteral("A"));
    EXPECT_EQ(w->state().protocol.reading.valueText, QStringLiteral("1.2345"));
    EXPECT_EQ(w->state().recording.cds1.rowCount(), 1);
    // A range nibble "B" in the same batch as a good frame: the good one still decodes.
    PacketFields badRange = Reading({1, 2, 3, 4, 5}, 11, 0);
    badRange.range = 0xB;
    Feed({badRange, Reading({5, 4, 3, 2, 1}, 11, 0)});
    EXPECT_EQ(w->state().protocol.undecodableFrames, 2);
    EXPECT_EQ(w->state().protocol.reading.valueText, QStringLiteral("5.4321"));
    EXPECT_EQ(w->state().protocol.assembler.lowNibbleText(), QStringLiteral("A"));
    EXPECT_EQ(w->state().recording.cds1.rowCount(), 2);
}

// Every accepted frame leaves its diagnostic lines, an undecodable one with the
// bit text the decoder built before it gave up.
TEST_F(Window, EveryFrameReachesTheTraceWithItsBitText) {
    TLcdPanel* panel = w->control<TLcdPanel>(QStringLiteral("Panel1"));
    ASSERT_NE(panel, nullptr);
    const struct {
        PacketFields fields;
        bool decodable;
    } cases[] = {{Reading({1, 2, 3, 4, 5}, 11, 0), true},
                 {Reading({1, 0xA, 3, 4, 5}, 11, 0), false}};
    for (const auto& c : cases) {
        const int undecodable = w->state().protocol.undecodableFrames;
        Feed({c.fields});
        ASSERT_EQ(w->state().protocol.undecodableFrames, undecodable + (c.decodable ? 0 : 1));
        const QString frame = w->state().protocol.assembler.frameText();
        SCOPED_TRACE(frame.toStdString());
        EXPECT_EQ(panel->Memo2().lastLine(), frame);
        EXPECT_EQ(panel->Memo1().lastLine(), BitText(frame));
        EXPECT_EQ(panel->Memo1().lastLine().size(), 48) << "12 nibbles of 4 bits";
    }
}

TEST_F(Window, LeadingZerosBeforeThePointAreBlanked) {
    const struct {
        std::array<std::uint8_t, 5> digits;
        std::uint8_t function, range;
        const char* hidden; // digit labels hidden, in order
    } cases[] = {
        {{0, 1, 2, 3, 4}, 11, 1, "LcdD0"},             // 01.234 V: reads 1.234
        {{0, 0, 0, 1, 2}, 11, 2, "LcdD0 LcdDa"},       // 000.12 V: reads 0.12
        {{0, 0, 0, 0, 0}, 11, 0, ""},                  // 0.0000 V: nothing blanked
        {{0, 0, 0, 0, 1}, 4, 0, ""},                   // 00001 degrees, no point
        {{0, 0, 0, 5, 0}, 11, 3, "LcdD0 LcdDa LcdDb"}, // 0005.0 V
        {{0, 1, 0, 5, 0}, 11, 3, "LcdD0"},             // 0105.0 V: stops at the 1
    };
    for (const auto& c : cases) {
        Feed({Reading(c.digits, c.function, c.range)});
        QStringList hidden;
        for (const char* name : {"LcdD0", "LcdDa", "LcdDb", "LcdDc", "LcdDd"})
            if (!Shown(name)) hidden << QString::fromLatin1(name);
        EXPECT_EQ(hidden.join(QLatin1Char(' ')), QString::fromLatin1(c.hidden))
            << w->state().protocol.reading.valueText.toStdString();
    }
}
