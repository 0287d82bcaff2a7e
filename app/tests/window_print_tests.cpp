// "Print" in the window: the modal preview built from the rows of the moment,
// printing to a PDF file from it, and the link and recording going on meanwhile.

#include "app/ReportPreview.h"
#include "app/tests/WindowFixture.h"
#include "link/SerialPortDriver.h"
#include "recording/RecordTable.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>

namespace {

int PdfPages(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("pdfinfo"), {path});
    p.waitForFinished(30000);
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                       .match(QString::fromUtf8(p.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

struct Print : Window {
    RecordTable& Table() { return w->state().recording.cds1; }
    void Fill(int rows) {
        for (int i = 0; i < rows; ++i)
            Table().Append(RecordedRow(i + 1));
    }
    TReportPreview* Preview() const { return w->findChild<TReportPreview*>(); }
    static QAction* PreviewAction(TReportPreview* p, const char* name) {
        return p->findChild<QAction*>(QString::fromLatin1(name));
    }

    // Clicks "Print" and runs `step` every few milliseconds while the modal
    // preview is open, until it returns true; then the preview is closed.
    void ClickPrintAndRun(const std::function<bool(TReportPreview&)>& step) {
        bool done = false;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            TReportPreview* p = Preview();
            if (!p || !p->isVisible() || done) return;
            done = step(*p);
            if (done) p->reject();
        });
        poll.start();
        w->control<QToolButton>(QStringLiteral("BtPrint"))->click();
        poll.stop();
        EXPECT_TRUE(done) << "the preview did not run the test's steps";
    }
};

} // namespace

TEST_F(Print, AnEmptyTableOpensNoPreviewAndSaysSo) {
    w->control<QToolButton>(QStringLiteral("BtPrint"))->click();
    EXPECT_EQ(dialogs.informations, QStringList{NothingToPrintMessage()});
    EXPECT_EQ(Preview(), nullptr);

    // The hidden "Print" button does nothing at all.
    Fill(3);
    w->control<QToolButton>(QStringLiteral("Print"))->click();
    EXPECT_EQ(dialogs.informations.size(), 1);
    EXPECT_EQ(Preview(), nullptr);
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

// The preview holds the rows of the moment the button was pressed; frames go on
// being recorded while it is open, and paging works from its toolbar.
TEST_F(Print, PreviewShowsTheRowsOfTheMomentWhileRecordingGoesOn) {
    Fill(36);
    int step = 0;
    ClickPrintAndRun([&](TReportPreview& p) {
        TReportPageView* view = p.pageView();
        if (view->pagesPainted() == 0) return false; // not drawn yet
        EXPECT_TRUE(p.isModal());
        EXPECT_EQ(view->pageCount(), 2);
        EXPECT_EQ(p.findChild<QLineEdit*>(QStringLiteral("pageNumEdit"))->text(), "1");
        EXPECT_EQ(view->currentPage(), 0);
        if (step++ == 0) {
            Feed({Reading({0, 1, 2, 3, 4}, 11, 0), Reading({0, 1, 2, 3, 5}, 11, 0)});
            EXPECT_EQ(Table().rowCount(), 38) << "recording goes on under the preview";
            EXPECT_EQ(view->pageCount(), 2) << "the report keeps the rows of the moment";
            PreviewAction(&p, "lastPageAction")->trigger();
            EXPECT_EQ(view->currentPage(), 1);
            EXPECT_EQ(p.findChild<QLineEdit*>(QStringLiteral("pageNumEdit"))->text(), "2");
            PreviewAction(&p, "firstPageAction")->trigger();
            const double fitted = view->zoomFactor();
            PreviewAction(&p, "zoomInAction")->trigger();
            EXPECT_GT(view->zoomFactor(), fitted);
            EXPECT_FALSE(PreviewAction(&p, "fitWidthAction")->isChecked());
            PreviewAction(&p, "fitPageAction")->trigger();
            EXPECT_LE(view->pageRect(0).height(), view->viewport()->height());
            return false;
        }
        return true;
    });
    EXPECT_EQ(Preview(), nullptr) << "the preview is gone once closed";
    EXPECT_EQ(Table().rowCount(), 38);
    EXPECT_TRUE(dialogs.errors.isEmpty());
    EXPECT_TRUE(dialogs.informations.isEmpty());
}

// "Print" in the preview: the print dialog's page range, to a PDF file.
TEST_F(Print, PrintsThePagesChosenInThePrintDialogToPdf) {
    if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty())
        GTEST_SKIP() << "poppler-utils (pdfinfo) not installed";
    QTemporaryDir dir;
    const QString all = dir.filePath(QStringLiteral("all.pdf"));
    const QString some = dir.filePath(QStringLiteral("some.pdf"));
    Fill(100); // 3 pages
    dialogs.printers.push_back([&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(all);
        return true;
    });
    dialogs.printers.push_back([&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(some);
        printer.setPrintRange(QPrinter::PageRange);
        printer.setFromTo(2, 3);
        return true;
    });
    dialogs.printers.push_back([&](QPrinter&) { return false; }); // cancelled
    ClickPrintAndRun([&](TReportPreview& p) {
        for (int i = 0; i < 3; ++i)
            PreviewAction(&p, "printAction")->trigger();
        return true;
    });
    EXPECT_EQ(dialogs.printDialogPages, (QList<int>{3, 3, 3}));
    EXPECT_EQ(PdfPages(all), 3);
    EXPECT_EQ(PdfPages(some), 2);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"all.pdf", "some.pdf"}));
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST(PrintPagesOfTheDialog, RangeCurrentPageAndAll) {
    struct Case {
        const char* name;
        QPrinter::PrintRange range;
        int from, to, current;
        int first, last;
    } cases[] = {
        {"all", QPrinter::AllPages, 0, 0, 4, 0, 9},
        {"range", QPrinter::PageRange, 3, 5, 0, 2, 4},
        {"range past the end", QPrinter::PageRange, 8, 40, 0, 7, 9},
        {"range without pages", QPrinter::PageRange, 0, 0, 0, 0, 9},
        {"current page", QPrinter::CurrentPage, 0, 0, 6, 6, 6},
        {"selection means all", QPrinter::Selection, 0, 0, 6, 0, 9},
    };
    for (const Case& c : cases) {
        QPrinter printer;
        printer.setPrintRange(c.range);
        printer.setFromTo(c.from, c.to);
        const PrintPages pages = PagesToPrint(printer, 10, c.current);
        EXPECT_EQ(pages.first, c.first) << c.name;
        EXPECT_EQ(pages.last, c.last) << c.name;
    }
}

// Zoomed out, several pages fit in the view and the last of them cannot be
// scrolled to the top: a page the user goes to is still the current one (the
// page box, and "Current page" in the print dialog, name it).
TEST(PreviewPaging, EveryPageCanBecomeCurrentWhenSeveralFit) {
    RecordTable table;
    for (int i = 0; i < 350; ++i) // ten pages
        table.Append(RecordedRow(i + 1));
    const TDataReport report(table);
    ScriptedDialogs dialogs;
    TReportPreview preview(report, dialogs);
    preview.resize(820, 1000);
    preview.show();
    TReportPageView* view = preview.pageView();
    view->setZoomFactor(0.25);
    auto action = [&](const char* name) {
        return preview.findChild<QAction*>(QString::fromLatin1(name));
    };
    auto* pageBox = preview.findChild<QLineEdit*>(QStringLiteral("pageNumEdit"));

    action("lastPageAction")->trigger();
    EXPECT_EQ(view->currentPage(), 9);
    EXPECT_EQ(pageBox->text(), "10");

    action("firstPageAction")->trigger();
    EXPECT_EQ(view->currentPage(), 0);
    for (int page = 1; page < 10; ++page) {
        action("nextPageAction")->trigger();
        EXPECT_EQ(view->currentPage(), page);
        EXPECT_EQ(pageBox->text(), QString::number(page + 1));
    }
    action("prevPageAction")->trigger();
    EXPECT_EQ(view->currentPage(), 8);

    pageBox->setText(QStringLiteral("10"));
    emit pageBox->editingFinished();
    EXPECT_EQ(view->currentPage(), 9);
    EXPECT_EQ(pageBox->text(), "10");

    // Scrolled back by hand until that page is out of view: the page in view is current.
    view->verticalScrollBar()->setValue(0);
    EXPECT_EQ(view->currentPage(), 0);
    EXPECT_EQ(pageBox->text(), "1");
}

// A long print shows its progress; the serial link and the recording go on while
// it runs (the virtual meter's readings keep arriving); cancelling it keeps the
// file that was there before.
TEST(PrintWithVirtualMeter, LongPrintKeepsRecordingAndCancelKeepsTheOldFile) {
    QProcess meter;
    const QString device = StartVirtualMeter(meter);
    ASSERT_FALSE(device.isEmpty()) << "the virtual meter prints its device";

    ScriptedDialogs dialogs;
    WindowOptions options;
    options.dialogs = &dialogs;
    options.portPaths[0] = device;
    TFCOMM w(options);
    w.show();
    RecordTable& table = w.state().recording.cds1;
    for (int i = 0; i < 100000; ++i) // 2,858 pages
        table.Append(RecordedRow(i + 1));
    w.action(QStringLiteral("START1"))->trigger();
    ASSERT_TRUE(w.COMM2().Connected());

    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("report.pdf"));
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the previous report");
    old.close();
    dialogs.printers.push_back([&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(target);
        return true;
    });

    int rowsAtStart = -1, rowsWhenCancelled = -1, pagesInPreview = 0;
    bool printing = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* preview = w.findChild<TReportPreview*>();
        if (!preview || !preview->isVisible()) return;
        if (!printing) {
            printing = true;
            pagesInPreview = preview->pageView()->pageCount();
            rowsAtStart = table.rowCount();
            // Printed from a queued call: a timer does not fire again while its own
            // handler is still running, and this one has to watch the print.
            QMetaObject::invokeMethod(
                preview,
                [preview] {
                    preview->findChild<QAction*>(QStringLiteral("printAction"))->trigger();
                    preview->reject();
                },
                Qt::QueuedConnection);
            return;
        }
        auto* progress = preview->findChild<QProgressDialog*>(QStringLiteral("PrintProgress"));
        if (progress && rowsWhenCancelled < 0 && table.rowCount() >= rowsAtStart + 3) {
            rowsWhenCancelled = table.rowCount();
            progress->cancel();
        }
    });
    poll.start();
    QTimer::singleShot(60000, [&] { // a safety net for a machine that is far too slow
        if (auto* p = w.findChild<QProgressDialog*>(QStringLiteral("PrintProgress"))) p->cancel();
    });
    w.control<QToolButton>(QStringLiteral("BtPrint"))->click();
    poll.stop();

    EXPECT_EQ(pagesInPreview, 2858);
    EXPECT_GE(rowsWhenCancelled, rowsAtStart + 3) << "readings were recorded during the print";
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("the previous report"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("report.pdf")});
    EXPECT_TRUE(dialogs.errors.isEmpty());
    w.action(QStringLiteral("STOP1"))->trigger();
    meter.terminate();
    meter.waitForFinished(10000);
}
