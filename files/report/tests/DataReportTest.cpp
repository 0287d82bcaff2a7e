// The printed report rendered to real PDF files (through QPrinter, as the window
// prints, and through the atomic PDF writer of the logger) and read back with
// poppler's pdfinfo, pdftotext, pdffonts and pdftoppm.

#include "files/report/DataReport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <vector>

using namespace orvex;
namespace rp = orvex::report;

namespace {

constexpr double kPtPerMm = 72.0 / 25.4;

RecordRow MakeRow(int i) {
    RecordRow row;
    row.fields[FieldNo] = FieldCell::Int(i + 1);
    row.fields[FieldTime] = FieldCell::Text(QStringLiteral("10:%1:%2")
                                                .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                                                .arg(i % 60, 2, 10, QLatin1Char('0')));
    row.fields[FieldDcAc] = FieldCell::Text(i % 2 ? QStringLiteral("AC") : QStringLiteral("DC"));
    row.fields[FieldValue] = FieldCell::Text(QString::number(1 + i / 1000.0, 'f', 4));
    row.fields[FieldUnit] = FieldCell::Text(QStringLiteral("V"));
    row.fields[FieldAuto] =
        FieldCell::Text(i % 5 ? QStringLiteral("Pass") : QStringLiteral("Fail"));
    row.fields[FieldNVal] = FieldCell::Int(10000 + i);
    return row;
}

void Fill(RecordTable& table, int rows) {
    for (int i = 0; i < rows; ++i)
        table.Append(MakeRow(i));
}

bool HavePoppler() {
    return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty();
}

QString RunTool(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(60000)) << program.toStdString();
    EXPECT_EQ(p.exitCode(), 0) << program.toStdString() << ": "
                               << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Prints the report the way the window does: through a QPrinter writing PDF.
void PrintToPdf(const TDataReport& report, const QString& path) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    const FileResult r = report.Print(printer);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
}

int PdfPages(const QString& path) {
    const QString info = RunTool(QStringLiteral("pdfinfo"), {path});
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// The text of each page, in reading order.
QStringList PageTexts(const QString& path) {
    QStringList pages =
        RunTool(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")})
            .split(QLatin1Char('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty()) pages.removeLast();
    return pages;
}

struct Word {
    int page;           // 0-based
    double x, y, right; // millimetres from the paper's top-left corner
    QString text;
};

// Every word of the file with its place, from pdftotext -bbox.
std::vector<Word> Words(const QString& path) {
    const QString html =
        RunTool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), path, QStringLiteral("-")});
    std::vector<Word> words;
    int page = -1;
    const QRegularExpression re(QStringLiteral(
        "<page |<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"[\\d.]+\">"
        "([^<]*)</word>"));
    for (auto it = re.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(0).startsWith(QStringLiteral("<page"))) {
            ++page;
            continue;
        }
        words.push_back({page, m.captured(1).toDouble() / kPtPerMm,
                         m.captured(2).toDouble() / kPtPerMm, m.captured(3).toDouble() / kPtPerMm,
                         m.captured(4)});
    }
    return words;
}

// The detail row whose band holds a word's top, or -1 outside the detail bands.
int DetailRowAt(double yMm) {
    const double offset = yMm - rp::kFirstDetailAt;
    if (offset < 0) return -1;
    const int row = int(offset / rp::kDetailHeight);
    return row < rp::kRowsPerPage ? row : -1;
}

// The column whose field starts at x (within half a millimetre), or -1.
int ColumnOfField(double xMm) {
    const auto& columns = ReportColumns();
    for (int i = 0; i < int(columns.size()); ++i)
        if (std::abs(xMm - (rp::kMargin + columns[i].fieldAt)) < 0.5) return i;
    return -1;
}

class Report : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HavePoppler()) GTEST_SKIP() << "poppler-utils (pdftotext, pdftoppm) not installed";
        ASSERT_TRUE(dir.isValid());
    }
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir;
    RecordTable table;
};

} // namespace

TEST(ReportPages, ThirtyFiveRowsAPageAndNoPageForAnEmptyTable) {
    const std::pair<int, int> cases[] = {{0, 0},  {1, 1},  {35, 1},       {36, 2},
                                         {70, 2}, {71, 3}, {100000, 2858}};
    for (const auto& [rows, pages] : cases)
        EXPECT_EQ(ReportPageCount(rows), pages) << rows << " rows";
}

TEST_F(Report, EveryPageIsA4WithTitleColumnTitlesAndFooter) {
    for (const auto& [rows, pages] : std::vector<std::pair<int, int>>{{35, 1}, {36, 2}, {71, 3}}) {
        RecordTable t;
        Fill(t, rows);
        const QString path = Path("pages.pdf");
        PrintToPdf(TDataReport(t), path);
        EXPECT_EQ(PdfPages(path), pages) << rows << " rows";
        const QString info = RunTool(QStringLiteral("pdfinfo"), {path});
        // A4 portrait (Qt writes the media box in whole points).
        EXPECT_TRUE(
            QRegularExpression(
                QStringLiteral("Page size:\\s+595(\\.\\d+)? x 84[12](\\.\\d+)? pts \\(A4\\)"))
                .match(info)
                .hasMatch())
            << info.toStdString();
        const QStringList texts = PageTexts(path);
        ASSERT_EQ(texts.size(), pages);
        for (const QString& page : texts) {
            for (const char* expected : {"The Data Print Title", "No", "Time", "Function", "Value",
                                         "Unit", "Judge", "Test Data"})
                EXPECT_TRUE(page.contains(QString::fromLatin1(expected)))
                    << expected << " missing on a page of " << rows << " rows";
        }
    }
}

// Every word at its place: bands and columns as laid out, rows in table order,
// page 2 continuing with row 36, NVal not printed, an empty cell left empty.
TEST_F(Report, RowsInOrderAtTheirColumnsAndBands) {
    Fill(table, 36);
    RecordRow emptyFunction = MakeRow(36);
    emptyFunction.fields[FieldDcAc] = FieldCell{};
    table.Append(emptyFunction); // row 37, on page 2
    const QString path = Path("places.pdf");
    PrintToPdf(TDataReport(table), path);
    const std::vector<Word> words = Words(path);
    ASSERT_FALSE(words.empty());

    const auto& columns = ReportColumns();
    std::map<std::pair<int, int>, std::map<int, QString>> cells; // (page, band) -> column -> text
    for (const Word& w : words) {
        EXPECT_GE(w.x, rp::kMargin - 0.2) << w.text.toStdString();
        EXPECT_LE(w.right, rp::kPaperWidth - rp::kMargin + 0.2) << w.text.toStdString();
        EXPECT_NE(w.text, QStringLiteral("NULL"));
        const int band = DetailRowAt(w.y);
        if (band >= 0) {
            const int column = ColumnOfField(w.x);
            ASSERT_GE(column, 0) << "a field off its column: " << w.text.toStdString() << " at "
                                 << w.x << " mm";
            cells[{w.page, band}][column] = w.text;
            // A field's text sits 2.1 mm below the top of its band (the ascent of
            // the glyphs lies a little below the text's top).
            const double top = rp::kFirstDetailAt + band * rp::kDetailHeight + rp::kFieldTop;
            EXPECT_NEAR(w.y, top, 1.0) << w.text.toStdString();
        }
    }
    // Titles, title band and footer at their places.
    auto find = [&](int page, const char* text) {
        for (const Word& w : words)
            if (w.page == page && w.text == QString::fromLatin1(text)) return w;
        ADD_FAILURE() << text << " not on page " << page;
        return Word{};
    };
    for (int page : {0, 1}) {
        for (const ReportColumn& c : columns) {
            const Word w = find(page, c.title);
            EXPECT_NEAR(w.x, rp::kMargin + c.titleAt, 0.5) << c.title;
            EXPECT_NEAR(w.y, rp::kColumnHeaderAt + rp::kColumnTitleTop, 1.0) << c.title;
        }
        const Word the = find(page, "The"), title = find(page, "Title");
        EXPECT_NEAR((the.x + title.right) / 2, rp::kMargin + rp::kBandWidth / 2, 0.5)
            << "the title is centred";
        EXPECT_NEAR(the.y, rp::kPageHeaderAt + rp::kTitleTop, 1.0);
        const Word test = find(page, "Test");
        EXPECT_NEAR(test.x, rp::kMargin + rp::kFooterLeft, 0.5);
        EXPECT_NEAR(test.y, rp::kPageFooterAt + rp::kFooterTop, 1.0) << "footer at the bottom";
    }

    // Rows 1..35 on page 1, 36 and 37 on page 2, every field from its row.
    ASSERT_EQ(cells.size(), 37u);
    for (int row = 0; row < 37; ++row) {
        const auto& c = cells[std::make_pair(row / 35, row % 35)];
        for (int i = 0; i < int(columns.size()); ++i) {
            const QString expected = table.Text(row, columns[i].field);
            if (expected.isEmpty())
                EXPECT_EQ(c.count(i), 0u) << "row " << row + 1 << " column " << i;
            else
                EXPECT_EQ(c.count(i) ? c.at(i) : QString(), expected)
                    << "row " << row + 1 << " column " << i;
        }
    }
    EXPECT_EQ(cells[std::make_pair(1, 1)].count(2), 0u) << "the empty DC/AC cell is empty";
    for (const Word& w : words)
        EXPECT_NE(w.text, QStringLiteral("10036")) << "NVal is not printed";
}

// A text too long for its column is cut where the next column begins.
TEST_F(Report, ALongTextStopsBeforeTheNextColumn) {
    RecordRow row = MakeRow(0);
    row.fields[FieldDcAc] = FieldCell::Text(QStringLiteral("WWWWWWWWWWWWWWWWWWWW"));
    row.fields[FieldValue] = FieldCell::Text(QStringLiteral("88888888888888888888"));
    table.Append(row);
    const QString path = Path("long.pdf");
    PrintToPdf(TDataReport(table), path);
    const auto& columns = ReportColumns();
    int seen = 0;
    for (const Word& w : Words(path)) {
        if (DetailRowAt(w.y) != 0) continue;
        const int column = ColumnOfField(w.x);
        if (column == 2 || column == 3) {
            ++seen;
            EXPECT_LT(w.right, rp::kMargin + columns[column + 1].fieldAt) << w.text.toStdString();
            EXPECT_TRUE(w.text.endsWith(QChar(0x2026))) << w.text.toStdString();
        }
    }
    EXPECT_EQ(seen, 2);
}

// The report's look, checked on the rendered picture: ink only inside the
// margins, in the bands that hold something, the unit and judge columns in the
// LCD font and everything else in the Arial face.
TEST_F(Report, PictureKeepsToTheBandsAndFonts) {
    Fill(table, 35);
    const QString path = Path("picture.pdf");
    PrintToPdf(TDataReport(table), path);

    const QString fonts = RunTool(QStringLiteral("pdffonts"), {path});
    EXPECT_TRUE(fonts.contains(QStringLiteral("SEGMO-A2"))) << fonts.toStdString();
    EXPECT_TRUE(fonts.contains(QStringLiteral("Arial")) ||
                fonts.contains(QStringLiteral("LiberationSans")))
        << fonts.toStdString();

    const int dpi = 50;
    RunTool(QStringLiteral("pdftoppm"),
            {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-gray"),
             QStringLiteral("-singlefile"), path, Path("picture")});
    QImage image(Path("picture.pgm"));
    ASSERT_FALSE(image.isNull());
    const double pxPerMm = dpi / 25.4;
    EXPECT_NEAR(image.width(), rp::kPaperWidth * pxPerMm, 1.5);
    EXPECT_NEAR(image.height(), rp::kPaperHeight * pxPerMm, 1.5);
    auto inkIn = [&](double x0, double y0, double x1, double y1) {
        int ink = 0;
        for (int y = int(y0 * pxPerMm); y < int(y1 * pxPerMm) && y < image.height(); ++y)
            for (int x = int(x0 * pxPerMm); x < int(x1 * pxPerMm) && x < image.width(); ++x)
                if (qGray(image.pixel(x, y)) < 128) ++ink;
        return ink;
    };
    const double m = rp::kMargin;
    EXPECT_EQ(inkIn(0, 0, rp::kPaperWidth, m - 0.5), 0) << "top margin";
    EXPECT_EQ(inkIn(0, rp::kPaperHeight - m + 0.5, rp::kPaperWidth, rp::kPaperHeight), 0);
    EXPECT_EQ(inkIn(0, 0, m - 0.5, rp::kPaperHeight), 0) << "left margin";
    EXPECT_EQ(inkIn(rp::kPaperWidth - m + 0.5, 0, rp::kPaperWidth, rp::kPaperHeight), 0);
    EXPECT_GT(inkIn(m, rp::kPageHeaderAt, m + rp::kBandWidth, rp::kColumnHeaderAt), 0);
    EXPECT_GT(inkIn(m, rp::kColumnHeaderAt, m + rp::kBandWidth, rp::kFirstDetailAt), 0);
    EXPECT_GT(inkIn(m, rp::kPageFooterAt, m + rp::kBandWidth, rp::kPageFooterAt + 13.2), 0);
    // Nothing between the last of the 35 detail bands and the footer.
    EXPECT_EQ(inkIn(0, rp::kFirstDetailAt + 35 * rp::kDetailHeight + 0.3, rp::kPaperWidth,
                    rp::kPageFooterAt + 2.0),
              0);
}

TEST_F(Report, AnEmptyTablePrintsNothing) {
    const TDataReport report(table);
    EXPECT_EQ(report.pageCount(), 0);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(Path("empty.pdf"));
    const FileResult printed = report.Print(printer);
    EXPECT_TRUE(printed.failed());
    EXPECT_EQ(printed.error, NothingToPrintMessage());
    EXPECT_FALSE(QFile::exists(Path("empty.pdf")));

    QFile old(Path("old.pdf"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the previous report");
    old.close();
    const FileResult saved = SaveReportPdf(table, Path("old.pdf"));
    EXPECT_TRUE(saved.failed());
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("the previous report"));
}

// The PDF file is replaced only when the whole report was written.
TEST_F(Report, PdfFileIsReplacedAtomically) {
    Fill(table, 100);
    const QString target = Path("report.pdf");
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the previous report");
    old.close();

    std::vector<std::pair<qint64, qint64>> calls;
    const FileResult cancelled = SaveReportPdf(table, target, [&](qint64 done, qint64 total) {
        calls.emplace_back(done, total);
        return done < 2;
    });
    EXPECT_TRUE(cancelled.cancelled());
    EXPECT_EQ(calls, (std::vector<std::pair<qint64, qint64>>{{0, 3}, {1, 3}, {2, 3}}));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("the previous report"));
    old.close();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("report.pdf")})
        << "no temporary file is left";

    const FileResult written = SaveReportPdf(table, target);
    ASSERT_TRUE(written.ok()) << written.error.toStdString();
    EXPECT_EQ(written.rows, 100);
    EXPECT_EQ(PdfPages(target), 3);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("report.pdf")});

    const FileResult missing = SaveReportPdf(table, Path("missing/report.pdf"));
    EXPECT_TRUE(missing.failed());
    EXPECT_FALSE(missing.error.isEmpty());
}

// A page range prints those pages only (the print dialog's "Pages from ... to").
TEST_F(Report, PageRangePrintsThosePages) {
    Fill(table, 200); // 6 pages
    const TDataReport report(table);
    const QString path = Path("range.pdf");
    const FileResult r = SaveReportPdf(report, path, 2, 3);
    ASSERT_TRUE(r.ok());
    const QStringList pages = PageTexts(path);
    ASSERT_EQ(pages.size(), 2);
    auto rowNumbers = [](const QString& page) {
        QList<int> numbers;
        const QRegularExpression re(QStringLiteral("^\\s*(\\d+)\\s+10:"),
                                    QRegularExpression::MultilineOption);
        for (auto it = re.globalMatch(page); it.hasNext();)
            numbers << it.next().captured(1).toInt();
        return numbers;
    };
    QList<int> third, fourth;
    for (int n = 71; n <= 105; ++n)
        third << n;
    for (int n = 106; n <= 140; ++n)
        fourth << n;
    EXPECT_EQ(rowNumbers(pages[0]), third);
    EXPECT_EQ(rowNumbers(pages[1]), fourth);
}
