// Table files on real files in temporary folders.

#include "files/TableFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <linux/fs.h>
#include <optional>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace orvex;

namespace {

// A row as the recorder appends it; std::nullopt leaves a field empty.
struct Cells {
    std::optional<int> no;
    std::optional<QString> time, dcac, value, unit, judge;
    std::optional<int> nval;
};

RecordRow MakeRow(const Cells& c, bool appended = true) {
    RecordRow row;
    row.appended = appended;
    if (c.no) row.fields[FieldNo] = FieldCell::Int(*c.no);
    if (c.time) row.fields[FieldTime] = FieldCell::Text(*c.time);
    if (c.dcac) row.fields[FieldDcAc] = FieldCell::Text(*c.dcac);
    if (c.value) row.fields[FieldValue] = FieldCell::Text(*c.value);
    if (c.unit) row.fields[FieldUnit] = FieldCell::Text(*c.unit);
    if (c.judge) row.fields[FieldAuto] = FieldCell::Text(*c.judge);
    if (c.nval) row.fields[FieldNVal] = FieldCell::Int(*c.nval);
    return row;
}

RecordRow Reading(int no, const QString& value = QStringLiteral("1.2345"),
                  const QString& unit = QStringLiteral("V")) {
    return MakeRow({no, QStringLiteral("10:20:30"), QStringLiteral("DC"), value, unit,
                    QStringLiteral("Pass"), 12345});
}

void Fill(RecordTable& table, int rows) {
    for (int i = 1; i <= rows; ++i)
        table.Append(Reading(i, QString::number(i * 0.001, 'f', 4)));
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// The texts of every field of every row, for comparing tables.
QStringList Dump(const RecordTable& table) {
    QStringList out;
    for (int row = 0; row < table.rowCount(); ++row) {
        QStringList cells;
        for (int f = 0; f < RecordTable::kFieldCount; ++f)
            cells << (table.Has(row, f) ? QStringLiteral("[%1]").arg(table.Text(row, f))
                                        : QStringLiteral("-"));
        cells << (table.IsAppended(row) ? QStringLiteral("A") : QStringLiteral("L"));
        out << cells.join(QLatin1Char(' '));
    }
    return out;
}

QStringList FolderEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

const QByteArray kHeader = "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n";
const QByteArray kXmlFields = "<FIELDS><FIELD attrname=\"No\" fieldtype=\"i4\"/>"
                              "<FIELD attrname=\"time\" fieldtype=\"string\" WIDTH=\"20\"/>"
                              "<FIELD attrname=\"DC/AC\" fieldtype=\"string\" WIDTH=\"20\"/>"
                              "<FIELD attrname=\"Value\" fieldtype=\"string\" WIDTH=\"20\"/>"
                              "<FIELD attrname=\"Unit\" fieldtype=\"string\" WIDTH=\"20\"/>"
                              "<FIELD attrname=\"Auto\" fieldtype=\"string\" WIDTH=\"20\"/>"
                              "<FIELD attrname=\"NVal\" fieldtype=\"i4\"/></FIELDS>";
const QByteArray kXmlDecl = "<?xml version=\"1.0\" standalone=\"yes\"?>  ";

class TableFilesTest : public ::testing::Test {
  protected:
    QString Path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
    RecordTable table;
};

} // namespace

// ---- names, dialogs and messages -------------------------------------------------

TEST(TableFileNames, ExtensionRuleComparesLetterCase) {
    const struct {
        const char* name;
        const char* extension;
        bool xml;
    } cases[] = {
        {"Data.xml", ".xml", true},  {"/home/u/run.1/Data.xml", ".xml", true},
        {"Data.XML", ".XML", false}, {"Data.Xml", ".Xml", false},
        {"Data.xls", ".xls", false}, {"Data.xml.txt", ".txt", false},
        {"Data", "", false},         {"/home/u/run.xml/Data", "", false},
        {".xml", ".xml", true},      {"Data.", ".", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FileExtension(QString::fromLatin1(c.name)), QString::fromLatin1(c.extension));
        EXPECT_EQ(IsXmlFileName(QString::fromLatin1(c.name)), c.xml);
    }
}

TEST(TableFileNames, DialogFiltersAndMessages) {
    // The three types of every copy of the program, then CSV.
    EXPECT_EQ(SaveDialogFilter(), QStringLiteral("Excel File(*.xls);;XML(*.xml);;Txt File(*.txt);;"
                                                 "CSV File(*.csv)"));
    EXPECT_EQ(OpenDialogFilter(), QStringLiteral("Exel File(*.xls);;XML (*.xml);;Txt File(*.txt);;"
                                                 "CSV File(*.csv)"));
    EXPECT_EQ(SaveDefaultSuffix(), QStringLiteral("xls"));
    EXPECT_EQ(SaveFailedMessage(QStringLiteral("/t/a.xls")),
              QStringLiteral("Could not save table to specified file: /t/a.xls"));
    EXPECT_EQ(SaveSucceededMessage(QStringLiteral("/t/a.xls")),
              QStringLiteral("save table to specified file: /t/a.xls Scuss!"));
    EXPECT_EQ(XmlSaveFailedMessage(QStringLiteral("/t/a.xml"), QStringLiteral("No space")),
              QStringLiteral("Cannot create file \"/t/a.xml\". No space"));
    EXPECT_EQ(LoadFailedMessage(), QStringLiteral("Failed to Load File!"));
    EXPECT_EQ(LoadFailedCaption(), QStringLiteral("Error"));
}

// A name typed without an extension takes the one of the type chosen in the dialog.
TEST(TableFileNames, BareNameTakesTheSuffixOfTheChosenType) {
    const struct {
        const char* chosen;
        const char* suffix;
    } cases[] = {
        {"Excel File(*.xls)", "xls"}, {"XML(*.xml)", "xml"},
        {"Txt File(*.txt)", "txt"},   {"CSV File(*.csv)", "csv"},
        {"XML (*.xml)", "xls"}, // the open dialog's spelling is not a save type
        {"Bitmaps (*.bmp)", "xls"},   {"", "xls"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SaveSuffixForFilter(QString::fromLatin1(c.chosen)), QString::fromLatin1(c.suffix))
            << c.chosen;
    // Every type the dialog offers gives the extension of its own pattern.
    for (const QString& type : SaveDialogFilter().split(QStringLiteral(";;"))) {
        const qsizetype open = type.indexOf(QStringLiteral("(*."));
        ASSERT_GE(open, 0) << type.toStdString();
        EXPECT_EQ(SaveSuffixForFilter(type), type.mid(open + 3).chopped(1)) << type.toStdString();
    }
}

// ---- exact bytes -------------------------------------------------------------------

TEST_F(TableFilesTest, TextBytesOfASmallTable) {
    table.Append(Reading(7));
    // Empty DC/AC and judge, blanks around the value, no NVal.
    table.Append(MakeRow({8, QStringLiteral("10:20:31"), std::nullopt, QStringLiteral(" \t0.5 "),
                          QStringLiteral("mV"), QString(), std::nullopt}));
    table.Append(
        MakeRow({std::nullopt, QStringLiteral("x"), QStringLiteral("AC"), QStringLiteral("-1,5"),
                 QStringLiteral("%"), QStringLiteral("Fail"), -15}));
    table.setCurrentRow(0);
    const QString name = Path(QStringLiteral("small.xls"));
    ASSERT_TRUE(SaveTableText(table, name).ok());
    EXPECT_EQ(ReadFile(name), kHeader + "7\t10:20:30\tDC\t1.2345\tV\tPass\r\n"
                                        "8\t10:20:31\tNULL\t0.5\tmV\tNULL\r\n"
                                        "\tx\tAC\t-1,5\t%\tFail\r\n");
    EXPECT_EQ(kHeader.size(), 31); // 29 characters and CR LF
    EXPECT_EQ(table.currentRow(), 2);
}

TEST_F(TableFilesTest, XmlBytesOfASmallTable) {
    table.Append(Reading(7));
    // A row loaded from a packet without RowState, with escapes and an empty text.
    table.Append(MakeRow({8, QStringLiteral("<&>\"'"), QString(), QStringLiteral("a\tb\nc\rd\\"),
                          std::nullopt, QStringLiteral("Fail"), -3},
                         false));
    table.Append(Reading(9));
    const QString name = Path(QStringLiteral("small.xml"));
    ASSERT_TRUE(SaveTable(table, name).ok());
    EXPECT_EQ(ReadFile(name),
              kXmlDecl + "<DATAPACKET Version=\"2.0\"><METADATA>" + kXmlFields +
                  "<PARAMS CHANGE_LOG=\"1 0 4 3 0 4\"/></METADATA><ROWDATA>"
                  "<ROW RowState=\"4\" No=\"7\" time=\"10:20:30\" DC/AC=\"DC\" Value=\"1.2345\" "
                  "Unit=\"V\" Auto=\"Pass\" NVal=\"12345\"/>"
                  "<ROW No=\"8\" time=\"&lt;&amp;&gt;&quot;&apos;\" "
                  "Value=\"a&#009;b&#010;c&#013;d&#092;\" Auto=\"Fail\" NVal=\"-3\"/>"
                  "<ROW RowState=\"4\" No=\"9\" time=\"10:20:30\" DC/AC=\"DC\" Value=\"1.2345\" "
                  "Unit=\"V\" Auto=\"Pass\" NVal=\"12345\"/>"
                  "</ROWDATA></DATAPACKET>");
}

TEST_F(TableFilesTest, EmptyTableBothWays) {
    const QString text = Path(QStringLiteral("empty.txt"));
    const QString xml = Path(QStringLiteral("empty.xml"));
    ASSERT_TRUE(SaveTable(table, text).ok());
    ASSERT_TRUE(SaveTable(table, xml).ok());
    EXPECT_EQ(ReadFile(text), kHeader);
    EXPECT_EQ(ReadFile(xml), kXmlDecl + "<DATAPACKET Version=\"2.0\"><METADATA>" + kXmlFields +
                                 "<PARAMS/></METADATA><ROWDATA></ROWDATA></DATAPACKET>");

    Fill(table, 3);
    FileResult r = LoadDataFile(text, table);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(table.rowCount(), 3); // nothing appended
    r = LoadDataFile(xml, table);
    EXPECT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(table.rowCount(), 0); // replaced by nothing
    EXPECT_EQ(table.currentRow(), -1);
}

// ---- round trips and loading rules ---------------------------------------------------

TEST_F(TableFilesTest, UpperCaseXmlNameIsSavedAndLoadedAsText) {
    Fill(table, 2);
    const QString name = Path(QStringLiteral("Data.XML"));
    ASSERT_TRUE(SaveTable(table, name).ok());
    EXPECT_TRUE(ReadFile(name).startsWith(kHeader));
    ASSERT_TRUE(LoadDataFile(name, table).ok());
    ASSERT_EQ(table.rowCount(), 4); // appended, as text loads do
    EXPECT_EQ(table.Text(2, FieldValue), QStringLiteral("0.0010"));
}

TEST_F(TableFilesTest, EmptyTextsComeBackAsNullAndNValIsLost) {
    table.Append(MakeRow({3, QStringLiteral("10:00:00"), std::nullopt, QStringLiteral("1.0"),
                          QStringLiteral("V"), QStringLiteral("  "), 10}));
    const QString name = Path(QStringLiteral("null.xls"));
    ASSERT_TRUE(SaveTableText(table, name).ok());
    RecordTable loaded;
    ASSERT_TRUE(LoadDataFile(name, loaded).ok());
    EXPECT_EQ(Dump(loaded), QStringList{"[3] [10:00:00] [NULL] [1.0] [V] [NULL] - A"});
}

TEST_F(TableFilesTest, LoadingTwiceAppendsTwiceAndKeepsTheFileNumbers) {
    Fill(table, 3);
    const QString name = Path(QStringLiteral("twice.xls"));
    ASSERT_TRUE(SaveTableText(table, name).ok());
    RecordTable loaded;
    loaded.Append(Reading(100));
    ASSERT_TRUE(LoadDataFile(name, loaded).ok());
    ASSERT_TRUE(LoadDataFile(name, loaded).ok());
    ASSERT_EQ(loaded.rowCount(), 7);
    const int numbers[] = {100, 1, 2, 3, 1, 2, 3};
    for (int row = 0; row < 7; ++row)
        EXPECT_EQ(loaded.Integer(row, FieldNo), numbers[row]) << row;
    EXPECT_EQ(loaded.currentRow(), 6);
}

TEST_F(TableFilesTest, XmlLoadReplacesRowsKeepsMarksAndLaterRowsFollow) {
    table.Append(Reading(1));
    table.Append(MakeRow({2, QStringLiteral("t"), QStringLiteral("AC"), QStringLiteral("2"),
                          QStringLiteral("V"), QStringLiteral("Fail"), 2},
                         false));
    const QString name = Path(QStringLiteral("packet.xml"));
    ASSERT_TRUE(SaveTableXml(table, name).ok());

    RecordTable other;
    Fill(other, 5);
    const FileResult r = LoadDataFile(name, other);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(r.rows, 2);
    EXPECT_EQ(Dump(other), Dump(table));
    EXPECT_EQ(other.currentRow(), 0);

    // A frame recorded afterwards goes behind the loaded rows, marked as appended;
    // its CHANGE_LOG entry counts the unmarked row before it.
    other.Append(Reading(6));
    EXPECT_EQ(other.Integer(2, FieldNo), 6);
    EXPECT_TRUE(TableXmlBytes(other).contains("<PARAMS CHANGE_LOG=\"1 0 4 3 0 4\"/>"));
}

TEST_F(TableFilesTest, TextLoadedRowsAreMarkedAsAppended) {
    WriteFile(Path(QStringLiteral("a.txt")), kHeader + "5\tt\tDC\t1\tV\tPass\r\n");
    ASSERT_TRUE(LoadDataFile(Path(QStringLiteral("a.txt")), table).ok());
    EXPECT_TRUE(table.IsAppended(0));
    EXPECT_TRUE(TableXmlBytes(table).contains("CHANGE_LOG=\"1 0 4\""));
    EXPECT_TRUE(TableXmlBytes(table).contains("<ROW RowState=\"4\" No=\"5\""));
}

// Texts the writer has to protect so that its own loader reads them back.
TEST_F(TableFilesTest, AwkwardTextsRoundTripThroughText) {
    const QString texts[] = {
        QStringLiteral("&  *"),              // the continuity unit
        QStringLiteral("\"quoted"),          // leads with a double quote
        QStringLiteral("a\"b"),              // inner quote only: written as it is
        QStringLiteral("say \"hi\" now"),    // blanks and quotes
        QStringLiteral("tab\there"),         // a control character inside
        QString::fromLatin1("\xB5\xE9\xFF"), // single-byte characters above 127
        QStringLiteral("NULL"),
    };
    for (const QString& text : texts)
        table.Append(Reading(1, text, text));
    const QString name = Path(QStringLiteral("awkward.txt"));
    ASSERT_TRUE(SaveTableText(table, name).ok());
    const QByteArray bytes = ReadFile(name);
    EXPECT_TRUE(bytes.contains("\t\"&  *\"\t\"&  *\"\t")) << bytes.toStdString();
    EXPECT_TRUE(bytes.contains("\ta\"b\ta\"b\t")); // unchanged
    EXPECT_TRUE(bytes.contains("\t\xB5\xE9\xFF\t"));

    RecordTable loaded;
    const FileResult r = LoadDataFile(name, loaded);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    ASSERT_EQ(loaded.rowCount(), table.rowCount());
    for (int row = 0; row < table.rowCount(); ++row) {
        SCOPED_TRACE(texts[row].toStdString());
        EXPECT_EQ(loaded.Text(row, FieldValue), texts[row]);
        EXPECT_EQ(loaded.Text(row, FieldUnit), texts[row]);
        EXPECT_EQ(loaded.Text(row, FieldAuto), QStringLiteral("Pass"));
    }
}

TEST_F(TableFilesTest, AwkwardTextsRoundTripThroughXml) {
    const QString texts[] = {
        QStringLiteral("&  *"),   QStringLiteral("<a href=\"x\">"),   QStringLiteral("it's\\"),
        QStringLiteral("\t\r\n"), QString::fromUtf8("\u03A9 \u00B5"), QStringLiteral("DC/AC"),
    };
    for (const QString& text : texts)
        table.Append(Reading(1, text, text));
    const QString name = Path(QStringLiteral("awkward.xml"));
    ASSERT_TRUE(SaveTableXml(table, name).ok());
    RecordTable loaded;
    const FileResult r = LoadDataFile(name, loaded);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(Dump(loaded), Dump(table));
}

TEST(TextLoading, SplittingAndLineRules) {
    const struct {
        const char* what;
        QByteArray file;
        QStringList rows;
    } cases[] = {
        {"empty second line is skipped",
         kHeader + "\r\n5\tt\tDC\t1\tV\tPass\r\n",
         {"[5] [t] [DC] [1] [V] [Pass] - A"}},
        {"CR, LF and a last line without end",
         "header\r1 a\n2 b\r\n\r\n3 c",
         {"[1] [a] - - - - - A", "[2] [b] - - - - - A", "[3] [c] - - - - - A"}},
        {"runs of blanks and control characters are one separator",
         "h\n \x01\x02 7 \t\t x\x1f\x20y  \r\n",
         {"[7] [x] [y] - - - - A"}},
        {"quoted items with doubled quotes; quote ends the item",
         "h\n1 \"a \"\"b\"\" c\" \"\"\"\"x\n",
         {"[1] [a \"b\" c] [\"] [x] - - - A"}},
        {"unterminated quote runs to the line end",
         "h\n1 \"open item\n2\n",
         {"[1] [open item] - - - - - A", "[2] - - - - - - A"}},
        {"texts are cut to 20 characters",
         "h\n1 abcdefghijklmnopqrstuvwxyz \"0123456789 0123456789 0123\"\n",
         {"[1] [abcdefghijklmnopqrst] [0123456789 012345678] - - - - A"}},
        {"a long item does not stand in for the next one",
         "h\n1 \"" + QByteArray(100, 'x') + "\"\n2 \"\"\n",
         {"[1] [xxxxxxxxxxxxxxxxxxxx] - - - - - A", "[2] [] - - - - - A"}},
        {"seven items fill NVal, signs are allowed",
         "h\n-2147483648 a b c d e +2147483647\n",
         {"[-2147483648] [a] [b] [c] [d] [e] [2147483647] A"}},
        {"header without line end, no rows", "No\tTime", {}},
        {"only a line end", "\r\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecordTable table;
        const FileResult r = LoadTableText(c.file, table);
        EXPECT_TRUE(r.ok()) << r.error.toStdString();
        EXPECT_EQ(Dump(table), c.rows);
        EXPECT_EQ(table.currentRow(), table.rowCount() - 1);
    }
}

TEST_F(TableFilesTest, WordInNValKeepsEarlierRowsAndDropsTheFailingRow) {
    const QString name = Path(QStringLiteral("word.xls"));
    WriteFile(name, kHeader + "1\tt\tDC\t1\tV\tPass\r\n"
                              "2\tt\tDC\t2\tV\tPass\r\n"
                              "3\tt\tDC\t3\tV\tPass\tword\r\n"
                              "4\tt\tDC\t4\tV\tPass\r\n");
    table.Append(Reading(99));
    const FileResult r = LoadDataFile(name, table);
    EXPECT_TRUE(r.failed());
    EXPECT_EQ(r.rows, 2);
    ASSERT_EQ(table.rowCount(), 3);
    EXPECT_EQ(table.Integer(1, FieldNo), 1);
    EXPECT_EQ(table.Integer(2, FieldNo), 2);
    EXPECT_EQ(table.currentRow(), 2);
}

// The XML reader reads this layout however it is spelled.
TEST(XmlLoading, TolerantOfOrderCaseAndUnknownParts) {
    const QByteArray packet =
        "\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- saved elsewhere -->\n"
        "<DATAPACKET Version=\"2.0\" extra=\"1\">\n  <METADATA><FIELDS>"
        "<FIELD fieldtype=\"i4\" attrname=\"NO\"/>"
        "<FIELD attrname=\"Unit_x\" fieldname=\"Unit\" fieldtype=\"string\" WIDTH=\"20\"/>"
        "<FIELD attrname=\"Other\" fieldtype=\"string\"/>"
        "</FIELDS><PARAMS CHANGE_LOG=\"9 9 9\" LCID=\"1033\"/><EXTRA><ROW No=\"77\"/></EXTRA>"
        "</METADATA>\n<ROWDATA>\n"
        "  <ROW Other=\"x\" nval = '12' dc/ac=\"A&#67;\" No=\"1\" RowState=\"4\" "
        "Unit_x=\"&#x3a9;\"/>\n"
        "  <row value=\"\" No=\"2\" TIME=\"&lt;t&gt;\"><inner/>text</row>\n"
        "  <ROW/>\n"
        "</ROWDATA><UNKNOWN a=\"b\"/></DATAPACKET>\n<!-- end -->\n";
    RecordTable table;
    const FileResult r = LoadTableXml(packet, table);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(Dump(table), (QStringList{QString::fromUtf8("[1] - [AC] - [\u03A9] - [12] A"),
                                        "[2] [<t>] - - - - - L", "- - - - - - - L"}));
    EXPECT_EQ(table.currentRow(), 0);
}

// ---- saving safely -------------------------------------------------------------------

TEST_F(TableFilesTest, FailedSavesReportFailureAndLeaveNoFile) {
    Fill(table, 10);
    const QString targets[] = {
        Path(QStringLiteral("missing/folder/a.xls")),
        Path(QStringLiteral("missing/folder/a.xml")),
        QStringLiteral("/proc/orvex-no-such-folder/a.xls"),
        QStringLiteral("/proc/version"), // exists, cannot be written
        dir.path(),                      // a folder
    };
    for (const QString& target : targets) {
        SCOPED_TRACE(target.toStdString());
        const FileResult r = SaveTable(table, target);
        EXPECT_TRUE(r.failed());
        EXPECT_FALSE(r.error.isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("missing"))));
    EXPECT_TRUE(FolderEntries(dir.path()).isEmpty());
}

// A save that fails because of the system reports the system's reason on its own.
TEST_F(TableFilesTest, FailedSaveGivesTheSystemsReasonAlone) {
    for (const char* name : {"missing/a.xml", "missing/a.xls"}) {
        const FileResult r = SaveTable(table, Path(QString::fromLatin1(name)));
        ASSERT_TRUE(r.failed()) << name;
        EXPECT_EQ(r.reason, QString::fromLocal8Bit(std::strerror(ENOENT))) << name;
        EXPECT_TRUE(r.error.endsWith(r.reason)) << r.error.toStdString();
    }
}

namespace {

// Sets or clears the immutable flag of a folder: nothing can be created in it, not
// even by root, while the files already in it can still be written.
bool SetImmutable(const QString& folder, bool on) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

const char* StatusName(FileStatus status) {
    switch (status) {
    case FileStatus::Ok:
        return "ok";
    case FileStatus::Failed:
        return "failed";
    case FileStatus::Cancelled:
        return "cancelled";
    }
    return "?";
}

// One save into a folder that refuses new files: the target, whether it exists
// beforehand, and what must come of it.
struct InPlaceCase {
    const char* name;
    bool exists;
    bool cancelAtFirstReport; // give up before the first bytes are written
    FileStatus status;
    int reasonErrno; // for failures
};

// Creates the files of the cases that exist beforehand, lets `refuseNewFiles` close
// the folder, runs the saves and checks them, then lets `allowAgain` open it.
void RunInPlaceCases(const QString& folder, RecordTable& table,
                     std::initializer_list<InPlaceCase> cases,
                     const std::function<bool()>& refuseNewFiles,
                     const std::function<void()>& allowAgain) {
    const QByteArray old = "the previous file\r\n";
    for (const InPlaceCase& c : cases)
        if (c.exists) WriteFile(folder + QLatin1Char('/') + QString::fromLatin1(c.name), old);
    const QStringList before = FolderEntries(folder);
    ASSERT_TRUE(refuseNewFiles());
    for (const InPlaceCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString target = folder + QLatin1Char('/') + QString::fromLatin1(c.name);
        int reports = 0;
        const FileResult r = SaveTable(table, target, [&](qint64, qint64) {
            return !(c.cancelAtFirstReport && ++reports == 2);
        });
        EXPECT_EQ(StatusName(r.status), StatusName(c.status)) << r.error.toStdString();
        if (c.status == FileStatus::Ok) {
            EXPECT_EQ(ReadFile(target),
                      IsXmlFileName(target) ? TableXmlBytes(table) : TableTextBytes(table));
        } else if (c.exists) {
            EXPECT_EQ(ReadFile(target), old) << "the previous file is kept";
        }
        if (c.status == FileStatus::Failed) {
            EXPECT_EQ(r.reason, QString::fromLocal8Bit(std::strerror(c.reasonErrno)));
        }
    }
    allowAgain();
    EXPECT_EQ(FolderEntries(folder), before) << "no file left behind, none created";
}

} // namespace

// An immutable folder refuses new files to everybody, root included: the
// temporary file of the atomic save cannot be made, so the file is written in place.
TEST_F(TableFilesTest, AFileInAnImmutableFolderIsWrittenInPlace) {
    Fill(table, 2 * kProgressStep);
    const QString folder = Path(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkpath(folder));
    if (!SetImmutable(folder, true))
        GTEST_SKIP() << "cannot make a folder immutable here (file system or privilege): "
                     << std::strerror(errno);
    SetImmutable(folder, false);
    struct Unlock {
        QString folder;
        ~Unlock() { SetImmutable(folder, false); }
    } unlock{folder};
    RunInPlaceCases(
        folder, table,
        {{"t.xls", true, false, FileStatus::Ok, 0},
         {"t.xml", true, false, FileStatus::Ok, 0},
         {"kept.xls", true, true, FileStatus::Cancelled, 0},
         {"new.xls", false, false, FileStatus::Failed, EPERM}},
        [&] { return SetImmutable(folder, true); }, [&] { SetImmutable(folder, false); });
}

// A folder the user may not write to, holding a file the user may write: saved in
// place. A file the user may not write either fails and is kept. As root (whom
// folder permissions do not stop) the saves run under an unprivileged identity.
TEST_F(TableFilesTest, AWritableFileInSomebodyElsesFolderIsWrittenInPlace) {
    Fill(table, 10);
    const QString folder = Path(QStringLiteral("theirs"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QByteArray folderName = QFile::encodeName(folder);
    const bool root = ::geteuid() == 0;
    const uid_t user = 65534; // "nobody"
    auto own = [&](const char* name, bool writable) {
        const QByteArray path =
            QFile::encodeName(folder + QLatin1Char('/') + QString::fromLatin1(name));
        if (root && writable) {
            ASSERT_EQ(::chown(path.constData(), user, user), 0);
        }
        ASSERT_EQ(::chmod(path.constData(), writable ? 0644 : 0444), 0);
    };
    // The folder of the fixture is private to its owner; this one is reachable.
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    if (root) {
        if (::setegid(user) != 0 || ::seteuid(user) != 0) {
            const int err = errno;
            ::seteuid(0);
            ::setegid(0);
            GTEST_SKIP() << "needs a non-root user, and this root process cannot take one: "
                         << std::strerror(err);
        }
        const bool reachable = ::access(folderName.constData(), X_OK) == 0;
        ASSERT_EQ(::seteuid(0), 0);
        ASSERT_EQ(::setegid(0), 0);
        if (!reachable)
            GTEST_SKIP() << "needs a non-root user, who cannot reach " << folderName.constData();
    }
    // Whatever happens below, the test ends as root with the folder open again.
    struct Restore {
        bool root;
        QByteArray folder;
        ~Restore() {
            if (root) {
                (void)::seteuid(0);
                (void)::setegid(0);
            }
            ::chmod(folder.constData(), 0755);
        }
    } restore{root, folderName};
    RunInPlaceCases(
        folder, table,
        {{"mine.xls", true, false, FileStatus::Ok, 0},
         {"mine.xml", true, false, FileStatus::Ok, 0},
         {"locked.xls", true, false, FileStatus::Failed, EACCES},
         {"new.xls", false, false, FileStatus::Failed, EACCES}},
        [&] {
            own("mine.xls", true);
            own("mine.xml", true);
            own("locked.xls", false);
            if (!root) return ::chmod(folderName.constData(), 0555) == 0;
            ::chmod(folderName.constData(), 0755); // root's folder, closed to others
            return ::setegid(user) == 0 && ::seteuid(user) == 0;
        },
        [&] {
            if (root) {
                ASSERT_EQ(::seteuid(0), 0);
                ASSERT_EQ(::setegid(0), 0);
            }
            ::chmod(folderName.constData(), 0755);
        });
}

TEST_F(TableFilesTest, SavingOntoAFullDeviceFailsAndKeepsTheDevice) {
    if (!QFileInfo::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "this machine has no /dev/full";
    Fill(table, 50000); // more than one write chunk
    EXPECT_TRUE(SaveTableText(table, QStringLiteral("/dev/full")).failed());
    EXPECT_TRUE(SaveTableXml(table, QStringLiteral("/dev/full")).failed());
    RecordTable empty; // even the few bytes of an empty table do not fit
    EXPECT_TRUE(SaveTableText(empty, QStringLiteral("/dev/full")).failed());
    struct stat st {};
    ASSERT_EQ(::stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)); // written into, never replaced by a file
}

// A write that fails half-way (the file size limit of the process stands in for a
// full disk) must leave the previous file exactly as it was.
TEST_F(TableFilesTest, WriteFailingHalfWayKeepsThePreviousFile) {
    Fill(table, 20000); // several hundred kilobytes in either format
    const QByteArray old = "the previous file\r\n";
    for (const char* name : {"keep.xls", "keep.xml"}) {
        SCOPED_TRACE(name);
        const QString target = Path(QString::fromLatin1(name));
        WriteFile(target, old);

        struct rlimit saved {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = 64 * 1024;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const FileResult r = SaveTable(table, target);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        EXPECT_TRUE(r.failed());
        EXPECT_EQ(ReadFile(target), old);
        EXPECT_EQ(FolderEntries(dir.path()), QStringList{QString::fromLatin1(name)});
        QFile::remove(target);
    }
}

TEST_F(TableFilesTest, CancelledSaveLeavesTheTargetUntouched) {
    Fill(table, 3 * kProgressStep);
    const QByteArray old = "old\r\n";
    for (const char* name : {"c.xls", "c.xml"}) {
        SCOPED_TRACE(name);
        const QString target = Path(QString::fromLatin1(name));
        WriteFile(target, old);
        int calls = 0;
        const FileResult r = SaveTable(table, target, [&](qint64 done, qint64 total) {
            EXPECT_EQ(total, table.rowCount());
            EXPECT_LE(done, total);
            return ++calls < 2; // cancel at the first report after the start
        });
        EXPECT_TRUE(r.cancelled());
        EXPECT_EQ(ReadFile(target), old);
        EXPECT_EQ(FolderEntries(dir.path()), QStringList{QString::fromLatin1(name)});
        QFile::remove(target);
    }
}

TEST_F(TableFilesTest, SaveHoldsTheRowsPresentWhenItBegan) {
    for (const char* name : {"snap.xls", "snap.xml"}) {
        SCOPED_TRACE(name);
        RecordTable recording;
        Fill(recording, 2 * kProgressStep + 5);
        const QString target = Path(QString::fromLatin1(name));
        const int before = recording.rowCount();
        // Frames keep arriving while the progress dialog runs the event loop.
        const FileResult r = SaveTable(recording, target, [&](qint64, qint64) {
            recording.Append(Reading(-1, QStringLiteral("late")));
            return true;
        });
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r.rows, before);
        EXPECT_GT(recording.rowCount(), before);
        const QByteArray want = IsXmlFileName(target) ? TableXmlBytes(recording, before)
                                                      : TableTextBytes(recording, before);
        EXPECT_EQ(ReadFile(target), want);
        EXPECT_FALSE(ReadFile(target).contains("late"));
    }
}

TEST_F(TableFilesTest, TableEmptiedDuringSaveFailsAndKeepsThePreviousFile) {
    Fill(table, 2 * kProgressStep);
    const QString target = Path(QStringLiteral("e.xls"));
    WriteFile(target, "old");
    const FileResult r = SaveTable(table, target, [&](qint64 done, qint64) {
        if (done > 0) table.Empty();
        return true;
    });
    EXPECT_TRUE(r.failed());
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(FolderEntries(dir.path()), QStringList{QStringLiteral("e.xls")});
}

TEST_F(TableFilesTest, ReplacedFileKeepsItsModeAndSymlink) {
    Fill(table, 2);
    const QString real = Path(QStringLiteral("real.xls"));
    const QString link = Path(QStringLiteral("link.xls"));
    WriteFile(real, "old");
    ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0640), 0);
    ASSERT_TRUE(QFile::link(real, link));
    ASSERT_TRUE(SaveTable(table, link).ok());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(ReadFile(real), TableTextBytes(table));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(real).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// ---- malformed files -----------------------------------------------------------------

TEST_F(TableFilesTest, MalformedFilesFailAndLeaveTheTableUsable) {
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk.append(static_cast<char>((i * 167 + 13) % 256));
    QByteArray longLine = kHeader;
    longLine.append(QByteArray(100 * 1024 * 1024, '9'));
    longLine.append("\tt\tDC\r\n");

    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"truncated.xml", TableXmlBytes(table).left(60)},
        {"unknown-root.xml", kXmlDecl + "<PACKET><ROWDATA><ROW No=\"1\"/></ROWDATA></PACKET>"},
        {"no-packet.xml", "just text"},
        {"empty.xml", ""},
        {"bad-number.xml", "<DATAPACKET><ROWDATA><ROW No=\"1x\"/></ROWDATA></DATAPACKET>"},
        {"huge-number.xml",
         "<DATAPACKET><ROWDATA><ROW NVal=\"99999999999999999999\"/></ROWDATA></DATAPACKET>"},
        {"unknown-escape.xml",
         "<DATAPACKET><ROWDATA><ROW time=\"&nbsp;\"/></ROWDATA></DATAPACKET>"},
        {"bad-char-ref.xml", "<DATAPACKET><ROWDATA><ROW time=\"&#0;\"/></ROWDATA></DATAPACKET>"},
        {"mismatched.xml", "<DATAPACKET><ROWDATA></METADATA></DATAPACKET>"},
        {"unquoted.xml", "<DATAPACKET><ROWDATA><ROW No=1/></ROWDATA></DATAPACKET>"},
        {"two-roots.xml", "<DATAPACKET></DATAPACKET><DATAPACKET></DATAPACKET>"},
        {"junk.xml", junk},
        {"junk.xls", kHeader + junk},
        {"empty.xls", ""},
        {"huge-number.xls", kHeader + "2147483648\tt\r\n"},
        {"eight-items.txt", kHeader + "1 a b c d e 2 extra\r\n"},
        {"quoted-number.txt", kHeader + "\"1\"\"\" a\r\n"},
        {"long-line.xls", longLine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordTable target;
        Fill(target, 2);
        const QStringList before = Dump(target);
        const QString name = Path(QString::fromLatin1(c.name));
        WriteFile(name, c.bytes);
        const FileResult r = LoadDataFile(name, target);
        EXPECT_TRUE(r.failed());
        EXPECT_EQ(Dump(target), before);
        target.Append(Reading(3)); // still open for recording
        EXPECT_EQ(target.rowCount(), 3);
        QFile::remove(name);
    }
    RecordTable target;
    EXPECT_TRUE(LoadDataFile(Path(QStringLiteral("no-such-file.xls")), target).failed());
}

// Every cut of a valid packet, except at its very end, is a failure.
TEST(XmlLoading, EveryTruncationFails) {
    RecordTable source;
    source.Append(Reading(1, QStringLiteral("a&b")));
    source.Append(MakeRow({2, std::nullopt, QStringLiteral("AC"), std::nullopt, std::nullopt,
                           QStringLiteral("Fail"), 5},
                          false));
    const QByteArray full = TableXmlBytes(source);
    for (qsizetype cut = 0; cut < full.size(); ++cut) {
        RecordTable target;
        target.Append(Reading(9));
        const FileResult r = LoadTableXml(full.left(cut), target);
        ASSERT_TRUE(r.failed()) << "cut at " << cut;
        ASSERT_EQ(target.rowCount(), 1);
    }
    RecordTable target;
    ASSERT_TRUE(LoadTableXml(full, target).ok());
    EXPECT_EQ(Dump(target), Dump(source));
}

TEST_F(TableFilesTest, CancelledLoadsLeaveTheTableAsItWas) {
    RecordTable source;
    Fill(source, 3 * kProgressStep);
    const QString text = Path(QStringLiteral("big.xls"));
    const QString xml = Path(QStringLiteral("big.xml"));
    ASSERT_TRUE(SaveTable(source, text).ok());
    ASSERT_TRUE(SaveTable(source, xml).ok());
    for (const QString& name : {text, xml}) {
        SCOPED_TRACE(name.toStdString());
        RecordTable target;
        target.Append(Reading(42));
        qint64 lastDone = -1;
        const FileResult r = LoadDataFile(name, target, [&](qint64 done, qint64 total) {
            EXPECT_EQ(total, QFileInfo(name).size());
            EXPECT_GT(done, lastDone);
            lastDone = done;
            return false;
        });
        EXPECT_TRUE(r.cancelled());
        EXPECT_EQ(target.rowCount(), 1);
        EXPECT_EQ(target.Integer(0, FieldNo), 42);

        const FileResult full = LoadDataFile(name, target, [](qint64, qint64) { return true; });
        EXPECT_TRUE(full.ok());
        EXPECT_EQ(full.rows, source.rowCount());
    }
}

// ---- streaming appender --------------------------------------------------------------

TEST_F(TableFilesTest, AppenderWritesEachRowAsItArrives) {
    const QString name = Path(QStringLiteral("log.txt"));
    TableTextAppender appender;
    ASSERT_TRUE(appender.open(name));
    appender.follow(table);
    EXPECT_EQ(ReadFile(name), kHeader);
    for (int i = 1; i <= 3; ++i) {
        table.Append(Reading(i, QStringLiteral("0.%1").arg(i), QStringLiteral("&  *")));
        // Already in the file while the appender is still open.
        EXPECT_EQ(ReadFile(name), TableTextBytes(table));
    }
    appender.close();
    table.Append(Reading(4));
    EXPECT_EQ(ReadFile(name), TableTextBytes(table, 3));
    RecordTable loaded;
    ASSERT_TRUE(LoadDataFile(name, loaded).ok());
    EXPECT_EQ(loaded.Text(2, FieldUnit), QStringLiteral("&  *"));

    TableTextAppender broken;
    QString reported;
    QObject::connect(&broken, &TableTextAppender::writeFailed,
                     [&](const QString& why) { reported = why; });
    EXPECT_FALSE(broken.open(Path(QStringLiteral("missing/log.txt"))));
    EXPECT_TRUE(broken.failed());
    EXPECT_FALSE(reported.isEmpty());
    if (QFileInfo::exists(QStringLiteral("/dev/full"))) {
        TableTextAppender full;
        EXPECT_FALSE(full.open(QStringLiteral("/dev/full")));
        EXPECT_TRUE(full.failed());
    }
}
