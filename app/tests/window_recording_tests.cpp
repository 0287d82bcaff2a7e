// The window's recording, judge and chart commands working together on real
// widgets: frames become rows and chart points, the commands reach the pager,
// the table and the files they write.

#include "app/tests/WindowFixture.h"
#include "chart/TChartView.h"
#include "files/TableFiles.h"
#include "recording/RecordGrid.h"
#include "recording/RecordTable.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

struct Recording : Window {
    QString Page() const { return w->control<QToolButton>(QStringLiteral("Bt10"))->text(); }
    RecordTable& Table() { return w->state().recording.cds1; }
    TChartView* Chart() const { return w->control<TChartView>(QStringLiteral("Chtshow")); }
    void Steady(int frames, std::array<std::uint8_t, 5> digits = {1, 2, 3, 4, 5}) {
        std::vector<PacketFields> packets(frames, Reading(digits, 11, 0));
        Feed(packets);
    }
};

} // namespace

TEST_F(Recording, ChartStartsOnPageOneWithTheProfilesRange) {
    EXPECT_EQ(Page(), QStringLiteral("1"));
    IChartFacility& chart = Chart()->Facility();
    EXPECT_EQ(chart.BottomAxis().Minimum(), 1.0);
    EXPECT_EQ(chart.BottomAxis().Maximum(), 100.0);
    EXPECT_EQ(chart.LeftAxis().Minimum(), -22000.0);
    EXPECT_EQ(chart.LeftAxis().Maximum(), 22000.0);
    EXPECT_EQ(Chart()->ShownSeries(), 0);
    EXPECT_EQ(Table().rowCount(), 0);
}

TEST_F(Recording, FramesBecomeRowsPointsAndVerdicts) {
    Steady(3);
    ASSERT_EQ(Table().rowCount(), 3);
    EXPECT_EQ(Table().Integer(2, FieldNo), 3);
    EXPECT_EQ(Table().Text(0, FieldValue), QStringLiteral("1.2345"));
    EXPECT_EQ(Table().Text(0, FieldDcAc), QStringLiteral("DC"));
    EXPECT_EQ(Table().Text(0, FieldUnit), QStringLiteral("V"));
    EXPECT_EQ(Table().Text(0, FieldAuto), QStringLiteral("Pass"));
    EXPECT_EQ(Table().Integer(0, FieldNVal), 12345);
    EXPECT_EQ(w->control<QLineEdit>(QStringLiteral("T1VALUE"))->text(), QStringLiteral("1.2345"));
    EXPECT_EQ(Caption("judge"), QStringLiteral("Pass"));
    // The chart got every point and the vertical range followed the decimal point.
    EXPECT_EQ(Chart()->Facility().Series(0).Count(), 3);
    EXPECT_EQ(Chart()->Facility().LeftAxis().Maximum(), 22.0);
    EXPECT_EQ(Chart()->Facility().LeftAxis().Minimum(), -22.0);
    // The grid follows the newest row.
    QApplication::processEvents();
    auto* grid = w->control<TRecordGrid>(QStringLiteral("DBGrid1"));
    EXPECT_EQ(grid->model()->rowCount(), 3);

    // A high limit below the reading: Fail.
    w->control<QLineEdit>(QStringLiteral("T1HI"))->setText(QStringLiteral("1"));
    Steady(1);
    EXPECT_EQ(Caption("judge"), QStringLiteral("Fail"));
    EXPECT_EQ(Table().Text(3, FieldAuto), QStringLiteral("Fail"));
}

TEST_F(Recording, TheRecordLimitAdmitsExactlyItsRowsAndNewStartsAgain) {
    w->action(QStringLiteral("N10001"))->trigger();
    EXPECT_TRUE(w->action(QStringLiteral("N10001"))->isChecked());
    EXPECT_FALSE(w->action(QStringLiteral("N100001"))->isChecked());
    for (int i = 0; i < 11; ++i)
        Steady(100);
    EXPECT_EQ(Table().rowCount(), 1000);
    EXPECT_EQ(Chart()->Facility().Series(0).Count(), 1000);
    EXPECT_EQ(Page(), QStringLiteral("10"));

    // "New" answered No changes nothing; Yes empties the table and restarts the chart.
    dialogs.answers = {false};
    w->control<QToolButton>(QStringLiteral("RecordNew"))->click();
    EXPECT_EQ(Table().rowCount(), 1000);
    dialogs.answers = {true};
    w->action(QStringLiteral("New1"))->trigger();
    EXPECT_EQ(dialogs.questions.size(), 2);
    EXPECT_EQ(dialogs.questions.last(), QStringLiteral("Do you want to delete this record?"));
    EXPECT_EQ(Table().rowCount(), 0);
    EXPECT_EQ(Chart()->Facility().Series(0).Count(), 1) << "one sample point of \"New\"";
    Steady(1);
    EXPECT_EQ(Table().Integer(0, FieldNo), 1);
}

TEST_F(Recording, LimitEditsAlwaysHoldANumber) {
    auto* hi = w->control<QLineEdit>(QStringLiteral("T1HI"));
    auto* lo = w->control<QLineEdit>(QStringLiteral("T1LO"));
    hi->setFocus();
    hi->selectAll();
    QTest::keyClick(hi, Qt::Key_Backspace);
    EXPECT_EQ(hi->text(), QStringLiteral("0"));
    EXPECT_EQ(hi->selectedText(), QStringLiteral("0"));
    lo->selectAll();
    QTest::keyClick(lo, Qt::Key_Backspace);
    QTest::keyClicks(lo, QStringLiteral("-"));
    EXPECT_EQ(lo->text(), QStringLiteral("-0"));
    QTest::keyClicks(lo, QStringLiteral("5x+"));
    EXPECT_EQ(lo->text(), QStringLiteral("-5")) << "letters and '+' cannot be typed";

    auto* interval = w->control<QLineEdit>(QStringLiteral("RecordSITime"));
    interval->selectAll();
    QTest::keyClick(interval, Qt::Key_Backspace);
    EXPECT_EQ(interval->text(), QStringLiteral("1"));
}

TEST_F(Recording, PageSizeEditAppliesAfterItsTimerAndRefusesBadSizes) {
    for (int i = 0; i < 3; ++i)
        Steady(100);
    EXPECT_EQ(Page(), QStringLiteral("3"));
    auto* size = w->control<QLineEdit>(QStringLiteral("Maxrecord"));
    size->setText(QStringLiteral("50"));
    w->Timer2Timer();
    EXPECT_EQ(Page(), QStringLiteral("6"));
    EXPECT_EQ(w->ChartControl().GetPageSize(), 50);

    // A refused size: the edit shows the size in force again, nothing is pending.
    for (const char* refused : {"0", "-5"}) {
        size->setText(QString::fromLatin1(refused));
        w->RunHandler([&] { w->Timer2Timer(); });
        EXPECT_EQ(w->ChartControl().GetPageSize(), 50) << refused << " is refused";
        EXPECT_EQ(size->text(), QStringLiteral("50")) << refused;
        EXPECT_FALSE(w->control<QTimer>(QStringLiteral("Timer2"))->isActive()) << refused;
        EXPECT_EQ(Page(), QStringLiteral("6"));
    }
    EXPECT_TRUE(dialogs.errors.isEmpty());

    size->setText(QString());
    w->RunHandler([&] { w->Timer2Timer(); });
    EXPECT_EQ(dialogs.errors, QStringList{QStringLiteral("'' is not a valid integer value")});
    EXPECT_EQ(w->ChartControl().GetPageSize(), 50);

    w->action(QStringLiteral("First"))->trigger();
    EXPECT_EQ(Page(), QStringLiteral("1"));
    w->control<QToolButton>(QStringLiteral("BtNext"))->click();
    EXPECT_EQ(Page(), QStringLiteral("2"));
    w->action(QStringLiteral("Last"))->trigger();
    EXPECT_EQ(Page(), QStringLiteral("6"));
}

// "Graphic" -> "New" after several pages: the pager starts again with the points,
// so the next value is plotted on page 1 in view, not far left of the axis.
TEST_F(Recording, GraphicNewAfterSeveralPagesPlotsTheNextValuesInView) {
    for (int i = 0; i < 7; ++i)
        Steady(50);
    IChartBottomAxis& axis = Chart()->Facility().BottomAxis();
    ASSERT_EQ(Page(), QStringLiteral("4"));
    ASSERT_EQ(axis.Minimum(), 301.0);
    w->action(QStringLiteral("New"))->trigger();
    EXPECT_EQ(Chart()->Facility().Series(0).Count(), 1) << "the sample point of \"New\"";
    EXPECT_EQ(Page(), QStringLiteral("1"));
    EXPECT_EQ(axis.Minimum(), 1.0);
    EXPECT_EQ(axis.Maximum(), 100.0);
    for (int n = 1; n <= 150; ++n) {
        Steady(1);
        const double x = n; // the sample point lies at 0
        ASSERT_GE(x, axis.Minimum()) << "point " << n << " left of the view";
        ASSERT_LE(x, axis.Maximum()) << "point " << n << " right of the view";
    }
    EXPECT_EQ(Page(), QStringLiteral("2"));
}

// Enlarging hides the connection bar that may hold the focus; Qt would hand the
// focus to the next control, the high-limit edit, with its text selected, and the
// next digit typed would replace the limit.
TEST_F(Recording, EnlargingAndRestoringMovesNoFocusAndSelectsNothing) {
    w->show();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    QWidget* first = w->control(QStringLiteral("COMCon"));
    first->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(first->hasFocus());
    const QList<QLineEdit*> edits = w->findChildren<QLineEdit*>();
    for (const char* name : {"TbFd", "TbSx"}) {
        SCOPED_TRACE(name);
        QTest::mouseClick(w->control(QString::fromLatin1(name)), Qt::LeftButton);
        QApplication::processEvents();
        for (QLineEdit* edit : edits) {
            EXPECT_FALSE(edit->hasFocus()) << edit->objectName().toStdString();
            EXPECT_FALSE(edit->hasSelectedText()) << edit->objectName().toStdString();
        }
    }
    QTest::keyClick(w.get(), Qt::Key_5);
    EXPECT_EQ(w->control<QLineEdit>(QStringLiteral("T1HI"))->text(), QStringLiteral("22000"));
}

TEST_F(Recording, FillSwitchAndMenuItemAgree) {
    auto* fill = w->control<QCheckBox>(QStringLiteral("BtFill"));
    fill->click();
    EXPECT_FALSE(w->action(QStringLiteral("Fill"))->isChecked());
    EXPECT_EQ(Chart()->ShownSeries(), 1);
    w->control<QCheckBox>(QStringLiteral("RepeatSet"))->click();
    EXPECT_EQ(Chart()->ShownSeries(), 1) << "\"Repeat\" only re-applies the choice";
    w->action(QStringLiteral("Fill"))->trigger();
    EXPECT_TRUE(fill->isChecked());
    EXPECT_TRUE(w->action(QStringLiteral("Fill"))->isChecked());
    EXPECT_EQ(Chart()->ShownSeries(), 0);
}

TEST_F(Recording, EnlargeAndRestoreTheChart) {
    auto click = [&](const char* name) {
        QTest::mouseClick(w->control(QString::fromLatin1(name)), Qt::LeftButton);
    };
    click("TbFd");
    EXPECT_TRUE(w->control(QStringLiteral("Panel1"))->isHidden());
    EXPECT_TRUE(w->control(QStringLiteral("Panel6"))->isHidden());
    EXPECT_EQ(Chart()->geometry().topLeft(), QPoint(2, 28));
    EXPECT_EQ(w->control(QStringLiteral("Panel5"))->pos(), QPoint(2, 2));
    click("TbSx");
    EXPECT_EQ(Chart()->geometry(), QRect(336, 204, 376, 269));
    EXPECT_EQ(w->control(QStringLiteral("Panel5"))->pos(), QPoint(341, 166));
    EXPECT_FALSE(w->control(QStringLiteral("Panel1"))->isHidden());
    EXPECT_FALSE(w->control(QStringLiteral("Panel6"))->isHidden());
}

TEST_F(Recording, SavingTheChartWritesABitmapWithTheBmpEnding) {
    QTemporaryDir dir;
    dialogs.fileNames = {dir.filePath(QStringLiteral("chart.png"))};
    w->action(QStringLiteral("Save"))->trigger();
    const QString written = dir.filePath(QStringLiteral("chart.bmp"));
    ASSERT_TRUE(QFileInfo::exists(written));
    EXPECT_EQ(QImage(written, "BMP").size(), QSize(376, 269));
    EXPECT_EQ(dialogs.informations,
              QStringList{QStringLiteral(
                              "Graphic has been saved successfully at the following location: ") +
                          written});

    dialogs.fileNames = {dir.filePath(QStringLiteral("missing/chart.bmp"))};
    w->control<QToolButton>(QStringLiteral("BtSave"))->click();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].startsWith(QStringLiteral("Cannot create file \"")))
        << dialogs.errors[0].toStdString();
    EXPECT_EQ(dialogs.informations.size(), 1) << "no success message after a failure";

    // Another name typed ends up as the existing picture's name: asked again,
    // with No as the default answer, as the file dialog's own question has.
    {
        QFile existing(written);
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("kept");
    }
    const auto picture = [&] {
        QFile f(written);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const qsizetype asked = dialogs.questions.size();
    for (const bool replace : {false, true}) {
        dialogs.fileNames = {dir.filePath(QStringLiteral("chart.v2"))};
        dialogs.answers = {replace};
        w->control<QToolButton>(QStringLiteral("BtSave"))->click();
        ASSERT_EQ(dialogs.questions.size(), asked + (replace ? 2 : 1));
        EXPECT_TRUE(
            dialogs.questions.last().startsWith(written + QStringLiteral(" already exists")));
        EXPECT_TRUE(dialogs.questionsNoByDefault.last());
        EXPECT_EQ(picture() == "kept", !replace);
    }
}

TEST_F(Recording, AnAlarmLimitThatIsNotANumberIsReportedAndKept) {
    auto* max = w->control<QLineEdit>(QStringLiteral("Setmax"));
    max->setText(QStringLiteral("1000"));
    EXPECT_EQ(w->state().protocol.setMaxLimit, 1000.0f);
    max->setText(QStringLiteral("+"));
    EXPECT_EQ(w->state().protocol.setMaxLimit, 0.0f);
    max->setText(QStringLiteral("12-"));
    EXPECT_EQ(dialogs.errors, QStringList{QStringLiteral("'12-' is not a valid integer value")});
    EXPECT_EQ(w->state().protocol.setMaxLimit, 0.0f);
}

TEST_F(Recording, ContinueRecordClearedRestartsTheChartOnAChangeOfFunction) {
    w->control<QCheckBox>(QStringLiteral("multirange"))->setChecked(false);
    Steady(5);
    EXPECT_EQ(Chart()->Facility().Series(0).Count(), 6) << "New's sample point, then 5 values";
    Feed({Reading({0, 1, 0, 0, 0}, 3, 1)}); // ohms
    EXPECT_EQ(Chart()->Facility().Series(0).Count(), 2);
    EXPECT_EQ(Table().rowCount(), 6) << "the table keeps every row";
}

TEST_F(Recording, SaveAndOpenTableFilesThroughTheDialogs) {
    QTemporaryDir dir;
    Steady(2);
    const QString text = dir.filePath(QStringLiteral("table.xls"));
    dialogs.fileNames = {text};
    w->control<QToolButton>(QStringLiteral("saveas"))->click();
    ASSERT_EQ(dialogs.fileRequests.size(), 1);
    EXPECT_EQ(dialogs.fileRequests[0].defaultSuffix, QStringLiteral("xls"));
    EXPECT_TRUE(dialogs.fileRequests[0].filter.startsWith(QStringLiteral("Excel File(*.xls)")));
    EXPECT_EQ(dialogs.informations, QStringList{QStringLiteral("save table to specified file: ") +
                                                text + QStringLiteral(" Scuss!")});
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith("No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n"));
    EXPECT_EQ(bytes.count("\r\n"), 3);

    // XML: no message on success; opening it replaces the rows.
    const QString xml = dir.filePath(QStringLiteral("table.xml"));
    dialogs.fileNames = {xml};
    w->action(QStringLiteral("Save1"))->trigger();
    EXPECT_EQ(dialogs.informations.size(), 1);
    Steady(1);
    ASSERT_EQ(Table().rowCount(), 3);
    dialogs.fileNames = {xml};
    w->control<QToolButton>(QStringLiteral("OpenDataFiles"))->click();
    EXPECT_EQ(Table().rowCount(), 2);
    // Opening the text file appends its rows; the next frame continues the numbering.
    dialogs.fileNames = {text};
    w->control<QToolButton>(QStringLiteral("OpenDataFiles"))->click();
    EXPECT_EQ(dialogs.fileRequests.last().initialName, xml) << "the dialog keeps the last name";
    EXPECT_EQ(Table().rowCount(), 4);
    Steady(1);
    EXPECT_EQ(Table().Integer(4, FieldNo), 4);
    EXPECT_TRUE(dialogs.errors.isEmpty());

    // A file that is not a table: the message in an error box captioned "Error".
    const QString junk = dir.filePath(QStringLiteral("junk.txt"));
    QFile bad(junk);
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("header\n1 2 3 4 5 6 7 8 9\n");
    bad.close();
    dialogs.fileNames = {junk};
    w->control<QToolButton>(QStringLiteral("OpenDataFiles"))->click();
    EXPECT_EQ(dialogs.errors, QStringList{QStringLiteral("Failed to Load File!")});
    EXPECT_EQ(dialogs.errorCaptions, QStringList{QStringLiteral("Error")});
    EXPECT_EQ(Table().rowCount(), 5);
    Steady(1);
    EXPECT_EQ(Table().rowCount(), 6) << "the table is still usable";

    // A save that cannot be written says so and never claims success.
    dialogs.fileNames = {dir.filePath(QStringLiteral("missing/table.txt"))};
    w->control<QToolButton>(QStringLiteral("saveas"))->click();
    EXPECT_TRUE(dialogs.informations.last().startsWith(
        QStringLiteral("Could not save table to specified file: ")));
}

// An XML file that cannot be created: the general error report names the file
// and gives the system's reason alone.
TEST_F(Recording, AnXmlSaveThatFailsGivesTheSystemsReason) {
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("missing/table.xml"));
    dialogs.fileNames = {target};
    w->control<QToolButton>(QStringLiteral("saveas"))->click();
    EXPECT_EQ(
        dialogs.errors,
        QStringList{
            QStringLiteral("Cannot create file \"%1\". No such file or directory").arg(target)});
    EXPECT_TRUE(dialogs.informations.isEmpty());
}

// The real save dialog: a name typed without an extension takes that of the type
// chosen, and the format follows the final name.
TEST(WindowSaveDialog, ABareNameTakesTheExtensionOfTheChosenType) {
    QTemporaryDir dir;
    const struct {
        const char* type;
        const char* typed;
        const char* written;
    } cases[] = {
        {"XML(*.xml)", "a", "a.xml"},
        {"Txt File(*.txt)", "b", "b.txt"},
        {"Excel File(*.xls)", "c", "c.xls"},
        {"XML(*.xml)", "d.txt", "d.txt"}, // an extension typed is kept
    };
    TFCOMM w; // the real Qt dialogs
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        QString typeSeen;
        // Answers whatever modal dialog is up: the file dialog, then the message.
        QTimer driver;
        driver.setInterval(20);
        QObject::connect(&driver, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* files = qobject_cast<QFileDialog*>(modal)) {
                files->setDirectory(dir.path());
                // The type is chosen as a user does, in the dialog's type list.
                auto* types = files->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
                ASSERT_NE(types, nullptr);
                const int wanted = types->findText(QString::fromLatin1(c.type));
                ASSERT_GE(wanted, 0);
                while (types->currentIndex() != wanted)
                    QTest::keyClick(types,
                                    types->currentIndex() < wanted ? Qt::Key_Down : Qt::Key_Up);
                typeSeen = files->selectedNameFilter();
                auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                ASSERT_NE(name, nullptr);
                name->setText(QString::fromLatin1(c.typed));
                QMetaObject::invokeMethod(files, "accept");
            } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                box->accept();
            }
        });
        driver.start();
        w.saveasClick();
        driver.stop();
        EXPECT_EQ(typeSeen, QString::fromLatin1(c.type));
        const QString written = dir.filePath(QString::fromLatin1(c.written));
        ASSERT_TRUE(QFileInfo::exists(written))
            << QDir(dir.path()).entryList(QDir::Files).join(QLatin1Char(' ')).toStdString();
        QFile file(written);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll().startsWith("<?xml"), IsXmlFileName(written));
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), int(std::size(cases)));
}

TEST_F(Recording, ALongSaveShowsProgressAndCancellingItLeavesTheOldFile) {
    const RecordRow row = RecordedRow();
    for (int i = 0; i < 300000; ++i)
        Table().Append(row);

    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("day.txt"));
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the previous file\r\n");
    old.close();

    bool sawProgress = false;
    QTimer canceller;
    canceller.setInterval(0);
    QObject::connect(&canceller, &QTimer::timeout, [&] {
        if (auto* p = w->findChild<QProgressDialog*>(QStringLiteral("FileProgress"))) {
            sawProgress = true;
            p->cancel();
        }
    });
    canceller.start();
    dialogs.fileNames = {target};
    w->control<QToolButton>(QStringLiteral("saveas"))->click();
    canceller.stop();

    EXPECT_TRUE(sawProgress);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("the previous file\r\n"));
    EXPECT_TRUE(dialogs.informations.isEmpty()) << "a cancelled save reports nothing";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("day.txt")});
}

// A large text file opened while frames keep coming, onto a table that already
// has rows: the frames are recorded while the file is read and its rows arrive
// (the event loop runs: the link is served), every row of the file arrives, and
// the progress dialog closes when the file has been read and does not come back.
TEST_F(Recording, OpeningALargeTextFileKeepsRecordingAndAppendsEveryRow) {
    RecordTable file;
    RecordRow row;
    row.fields[FieldNo] = FieldValue::Int(7);
    row.fields[FieldTime] = FieldValue::Text(QStringLiteral("10:20:30"));
    row.fields[FieldDcAc] = FieldValue::Text(QStringLiteral("DC"));
    row.fields[FieldUnit] = FieldValue::Text(QStringLiteral("V"));
    row.fields[FieldAuto] = FieldValue::Text(QStringLiteral("Pass"));
    for (int i = 0; i < 200000; ++i) { // about 8 MB: worth a progress dialog
        row.fields[FieldValue] = FieldValue::Text(QString::number(i));
        file.Append(row);
    }
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("big.txt"));
    ASSERT_TRUE(SaveTableText(file, name).ok());

    Steady(2);
    int fed = 0;
    bool dialogSeen = false, dialogClosed = false, dialogBack = false;
    QTimer meter;
    meter.setInterval(0);
    QObject::connect(&meter, &QTimer::timeout, [&] {
        Steady(1);
        ++fed;
        auto* p = w->findChild<QProgressDialog*>(QStringLiteral("FileProgress"));
        if (p && !dialogSeen) p->setMinimumDuration(0); // this machine may read the file fast
        const bool shown = p && p->isVisible();
        if (shown && dialogClosed) dialogBack = true;
        if (!shown && dialogSeen) dialogClosed = true;
        if (shown) dialogSeen = true;
    });
    meter.start();
    dialogs.fileNames = {name};
    w->control<QToolButton>(QStringLiteral("OpenDataFiles"))->click();
    meter.stop();

    EXPECT_TRUE(dialogs.errors.isEmpty());
    EXPECT_GT(fed, 0);
    EXPECT_TRUE(dialogSeen);
    EXPECT_FALSE(dialogBack);
    ASSERT_EQ(Table().rowCount(), 2 + fed + file.rowCount());
    EXPECT_EQ(w->state().recording.recorder.recordCount, 2 + fed);
    // The file's rows in their order, whatever frames came between them.
    int next = 0;
    for (int r = 0; r < Table().rowCount(); ++r)
        if (Table().Integer(r, FieldNo) == 7 &&
            Table().Text(r, FieldValue) == QString::number(next))
            ++next;
    EXPECT_EQ(next, file.rowCount());
}
