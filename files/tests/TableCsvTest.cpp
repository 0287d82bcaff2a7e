// The comma-separated table file on real files, read back by this program and by
// Python's csv module.

#include "files/TableCsv.h"
#include "recording/Recorder.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

using namespace orvex;

namespace {

const QByteArray kHeader =
    "No,Timestamp,Function,Value,Unit,Judge,Base value,Base unit,Overload\r\n";

// Sets TZ for the life of the object (a POSIX rule, so no time zone database is needed).
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

  private:
    std::optional<std::string> old_;
};

// Central European time: +01:00 in winter, +02:00 in summer.
constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";

// 2026-12-10T14:03:07+01:00.
constexpr std::int64_t kMoment = 1796907787000;

struct Reading {
    const char* function;
    const char* value; // with "." as the decimal separator; replaced by the locale's
    const char* unit;
    const char* verdict;
    int counts;
};

// Readings of the meter as the recorder takes them, one second apart from `msecs`.
void Record(RecordTable& table, std::initializer_list<Reading> readings, std::int64_t msecs,
            const CsvLocale& locale = CsvLocale()) {
    TRecorder recorder(&table);
    recorder.recordLimit = 1000;
    recorder.nextRecordNo = table.rowCount() + 1;
    for (const Reading& r : readings) {
        RecordInput in;
        in.functionText = QString::fromUtf8(r.function);
        in.valueText = QString::fromUtf8(r.value).replace(u'.', locale.decimalSeparator);
        in.unitText = QString::fromUtf8(r.unit);
        in.verdictText = QString::fromUtf8(r.verdict);
        in.counts = r.counts;
        SetRecordMoment(in, QDateTime::fromMSecsSinceEpoch(msecs), locale.timeSeparator);
        msecs += 1000;
        recorder.INDataToTable(in);
    }
}

// A row loaded from the tab-separated text format: no date, any texts.
RecordRow LoadedRow(std::optional<int> no, const QString& time, const QString& function,
                    const QString& value, const QString& unit, std::optional<QString> judge) {
    RecordRow row;
    if (no) row.fields[FieldNo] = FieldCell::Int(*no);
    row.fields[FieldTime] = FieldCell::Text(time);
    row.fields[FieldDcAc] = FieldCell::Text(function);
    row.fields[FieldValue] = FieldCell::Text(value);
    row.fields[FieldUnit] = FieldCell::Text(unit);
    if (judge) row.fields[FieldAuto] = FieldCell::Text(*judge);
    return row;
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

// Every field of every row and its timestamp, for comparing tables.
QStringList Dump(const RecordTable& table) {
    QStringList out;
    for (int row = 0; row < table.rowCount(); ++row) {
        QStringList cells;
        for (int f = 0; f < RecordTable::kFieldCount; ++f)
            cells << (table.Has(row, f) ? QStringLiteral("[%1]").arg(table.Text(row, f))
                                        : QStringLiteral("-"));
        cells << IsoTimestampText(table.Timestamp(row));
        out << cells.join(QLatin1Char(' '));
    }
    return out;
}

// The meter's units through every function, an overload, and rows without a date.
const std::initializer_list<Reading> kReadings = {
    {"DC", "120.30", "mV", "Pass", 12030},   {"DC", "-0.L", "V", "Fail", -22000},
    {"Ohm", "1.2345", "K*", "Pass", 12345},  {"Cont", "012.3", "&  *", "Pass", 123},
    {"Diode", "0.5432", "V)", "Pass", 5432}, {"Temperature", "0235", "?", "Pass", 235},
    {"AC", "-12.34", "uA", "Pass", -1234},   {"Duty", "0L.", "%", "Fail", 22000},
    {"Cap", "10.00", "nF", "Pass", 1000},    {"", "00.000", "", "Pass", 0},
};

class TableCsvTest : public ::testing::Test {
  protected:
    QString Path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
    RecordTable table;
};

} // namespace

TEST(TableCsvNames, CsvExtensionInAnyLetterCase) {
    for (const char* name : {"a.csv", "a.CSV", "/t/run.1/Data.Csv", ".csv"})
        EXPECT_TRUE(IsCsvFileName(QString::fromLatin1(name))) << name;
    for (const char* name : {"a.csv.txt", "a.xls", "a", "/t/x.csv/a", "a.xml", "acsv"})
        EXPECT_FALSE(IsCsvFileName(QString::fromLatin1(name))) << name;
}

TEST_F(TableCsvTest, BytesOfASmallTable) {
    const ScopedTimeZone zone(kBerlin);
    Record(table,
           {{"DC", "120.30", "mV", "Pass", 12030},
            {"DC", "-0.L", "V", "Fail", -22000},
            {"Ohm", "1.2345", "K*", "Pass", 12345},
            {"Cont", "012.3", "&  *", "Pass", 123},
            {"Diode", "0.5432", "V)", "Pass", 5432},
            {"AC", "-12.34", "uA", "Pass", -1234}},
           kMoment, CsvLocale{QStringLiteral(","), QStringLiteral(".")});
    table.Append(LoadedRow(std::nullopt, QStringLiteral("10.20.30"), QStringLiteral("A,\"B\""),
                           QStringLiteral("NULL"), QStringLiteral("NULL"), std::nullopt));
    table.Append(LoadedRow(8, QStringLiteral("a\r\nb"), QString(), QString(), QStringLiteral("?"),
                           QStringLiteral("Pass")));

    const QByteArray expected =
        kHeader + "1,2026-12-10T14:03:07+01:00,DC,120.30,mV,Pass,0.1203,V,\r\n"
                  "2,2026-12-10T14:03:08+01:00,DC,,V,Fail,,,1\r\n"
                  "3,2026-12-10T14:03:09+01:00,Ohm,1.2345,k\xCE\xA9,Pass,1234.5,\xCE\xA9,\r\n"
                  "4,2026-12-10T14:03:10+01:00,Cont,012.3,\xCE\xA9,Pass,12.3,\xCE\xA9,\r\n"
                  "5,2026-12-10T14:03:11+01:00,Diode,0.5432,V,Pass,0.5432,V,\r\n"
                  "6,2026-12-10T14:03:12+01:00,AC,-12.34,\xC2\xB5"
                  "A,Pass,-0.00001234,A,\r\n"
                  ",10.20.30,\"A,\"\"B\"\"\",NULL,NULL,,,,\r\n"
                  "8,\"a\r\nb\",,,\xC2\xB0"
                  "C,Pass,,,\r\n";
    EXPECT_EQ(TableCsvBytes(table, -1, CsvLocale{QStringLiteral(","), QStringLiteral(".")}),
              expected);

    // An empty table: the header alone.
    EXPECT_EQ(TableCsvBytes(RecordTable()), kHeader);
}

// Recorded rows go out and come back with their dates, readings and units; rows
// without a date keep their time text. Saved again, the file is the same.
TEST_F(TableCsvTest, RoundTrip) {
    const ScopedTimeZone zone(kBerlin);
    const CsvLocale finnish{QStringLiteral(","), QStringLiteral(".")};
    Record(table, kReadings, kMoment, finnish);
    table.Append(LoadedRow(3, QStringLiteral("10.20.30"), QStringLiteral("A,\"B\"\r\nC"),
                           QStringLiteral("x y"), QStringLiteral("M*"), QStringLiteral("")));
    const QString name = Path(QStringLiteral("run.csv"));
    ASSERT_TRUE(SaveTableCsv(table, name, {}, finnish).ok());

    RecordTable loaded;
    loaded.Append(LoadedRow(99, QStringLiteral("09.00.00"), QStringLiteral("DC"),
                            QStringLiteral("1"), QStringLiteral("V"), QStringLiteral("Pass")));
    const FileResult r = LoadTableCsv(ReadFile(name), loaded, {}, finnish);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(r.rows, table.rowCount());
    ASSERT_EQ(loaded.rowCount(), table.rowCount() + 1);
    EXPECT_EQ(loaded.currentRow(), loaded.rowCount() - 1);

    // The same table, but: an overload comes back as "0L" without NVal (the file
    // keeps neither its sign nor its point), and a row without a date gets no
    // NVal from a text that is no number.
    QStringList expected = Dump(table);
    expected[1] = QStringLiteral("[2] [14.03.08] [DC] [0L] [V] [Fail] - 2026-12-10T14:03:08+01:00");
    expected[7] =
        QStringLiteral("[8] [14.03.14] [Duty] [0L] [%] [Fail] - 2026-12-10T14:03:14+01:00");
    QStringList back = Dump(loaded);
    back.removeFirst();
    EXPECT_EQ(back, expected);
    EXPECT_TRUE(loaded.IsAppended(1));

    // Saved again: the same bytes.
    RecordTable again;
    ASSERT_TRUE(LoadTableCsv(ReadFile(name), again, {}, finnish).ok());
    EXPECT_EQ(TableCsvBytes(again, -1, finnish), ReadFile(name));
}

// The date and offset tell apart what the time of day alone cannot: midnight
// passing and the hour that repeats when daylight-saving time ends.
TEST_F(TableCsvTest, TimestampsAcrossMidnightAndAChangeOfOffset) {
    const ScopedTimeZone zone(kBerlin);
    // 2026-12-10 23:59:59 local, then two seconds later.
    Record(table, {{"DC", "1.0000", "V", "Pass", 10000}}, 1796943599000);
    Record(table, {{"DC", "1.0000", "V", "Pass", 10000}}, 1796943601000);
    // 2026-10-25: 02:30 summer time, then an hour later 02:30 winter time.
    Record(table, {{"DC", "1.0000", "V", "Pass", 10000}}, 1792888200000);
    Record(table, {{"DC", "1.0000", "V", "Pass", 10000}}, 1792891800000);
    // 2026-03-29: the last second of winter time, then summer time.
    Record(table, {{"DC", "1.0000", "V", "Pass", 10000}}, 1774745999000);
    Record(table, {{"DC", "1.0000", "V", "Pass", 10000}}, 1774746000000);

    const QList<QByteArray> lines = TableCsvBytes(table, -1, CsvLocale()).split('\n');
    QStringList stamps;
    for (qsizetype i = 1; i + 1 < lines.size(); ++i)
        stamps << QString::fromUtf8(lines[i].split(',')[1]);
    EXPECT_EQ(stamps, (QStringList{"2026-12-10T23:59:59+01:00", "2026-12-11T00:00:01+01:00",
                                   "2026-10-25T02:30:00+02:00", "2026-10-25T02:30:00+01:00",
                                   "2026-03-29T01:59:59+01:00", "2026-03-29T03:00:00+02:00"}));
    EXPECT_EQ(table.Text(2, FieldTime), table.Text(3, FieldTime)); // 02:30:00 twice

    // Read back in another time zone: the moments and the local times as recorded.
    const ScopedTimeZone elsewhere("EST5EDT,M3.2.0,M11.1.0");
    RecordTable loaded;
    ASSERT_TRUE(LoadTableCsv(TableCsvBytes(table, -1, CsvLocale()), loaded, {}, CsvLocale()).ok());
    ASSERT_EQ(loaded.rowCount(), table.rowCount());
    for (int row = 0; row < table.rowCount(); ++row) {
        EXPECT_EQ(loaded.Timestamp(row), table.Timestamp(row)) << row;
        EXPECT_EQ(loaded.Text(row, FieldTime), table.Text(row, FieldTime)) << row;
    }
}

// Python's csv module reads the file to the same texts and numbers.
TEST_F(TableCsvTest, PythonCsvModuleReadsTheSameValues) {
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty()) GTEST_SKIP() << "python3 is not installed on this machine";
    const ScopedTimeZone zone(kBerlin);
    Record(table, kReadings, kMoment);
    table.Append(LoadedRow(std::nullopt, QStringLiteral("10:20:30"), QStringLiteral("A,\"B\"\nC"),
                           QStringLiteral("NULL"), QStringLiteral("x"), QStringLiteral("Pass")));
    const QString name = Path(QStringLiteral("run.csv"));
    ASSERT_TRUE(SaveTableCsv(table, name, {}, CsvLocale()).ok());

    // The header as DictReader keys, each row as a list of texts, the two number
    // columns as floats (None when empty or no number).
    const char* script = R"(
import csv, json, sys
with open(sys.argv[1], newline='', encoding='utf-8') as f:
    reader = csv.DictReader(f)
    rows = [row for row in reader]
    fields = reader.fieldnames
def number(text):
    try:
        return float(text)
    except ValueError:
        return None
print(json.dumps({
    'fields': fields,
    'rows': [[row[name] for name in fields] for row in rows],
    'numbers': [[number(row['Value']), number(row['Base value'])] for row in rows],
}))
)";
    QProcess p;
    p.start(python, {QStringLiteral("-c"), QString::fromUtf8(script), name});
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QJsonObject out = QJsonDocument::fromJson(p.readAllStandardOutput()).object();

    EXPECT_EQ(out[QStringLiteral("fields")].toVariant().toStringList(),
              (QStringList{"No", "Timestamp", "Function", "Value", "Unit", "Judge", "Base value",
                           "Base unit", "Overload"}));
    const QJsonArray rows = out[QStringLiteral("rows")].toArray();
    const QJsonArray numbers = out[QStringLiteral("numbers")].toArray();
    const QList<QStringList> expected = {
        {"1", "2026-12-10T14:03:07+01:00", "DC", "120.30", "mV", "Pass", "0.1203", "V", ""},
        {"2", "2026-12-10T14:03:08+01:00", "DC", "", "V", "Fail", "", "", "1"},
        {"3", "2026-12-10T14:03:09+01:00", "Ohm", "1.2345", "kΩ", "Pass", "1234.5", "Ω", ""},
        {"4", "2026-12-10T14:03:10+01:00", "Cont", "012.3", "Ω", "Pass", "12.3", "Ω", ""},
        {"5", "2026-12-10T14:03:11+01:00", "Diode", "0.5432", "V", "Pass", "0.5432", "V", ""},
        {"6", "2026-12-10T14:03:12+01:00", "Temperature", "0235", "°C", "Pass", "235", "°C", ""},
        {"7", "2026-12-10T14:03:13+01:00", "AC", "-12.34", "µA", "Pass", "-0.00001234", "A", ""},
        {"8", "2026-12-10T14:03:14+01:00", "Duty", "", "%", "Fail", "", "", "1"},
        {"9", "2026-12-10T14:03:15+01:00", "Cap", "10.00", "nF", "Pass", "0.00000001", "F", ""},
        {"10", "2026-12-10T14:03:16+01:00", "", "00.000", "", "Pass", "0", "", ""},
        {"", "10:20:30", "A,\"B\"\nC", "NULL", "x", "Pass", "", "", ""},
    };
    ASSERT_EQ(rows.size(), expected.size());
    const double values[][2] = {{120.30, 0.1203},
                                {NAN, NAN},
                                {1.2345, 1234.5},
                                {12.3, 12.3},
                                {0.5432, 0.5432},
                                {235, 235},
                                {-12.34, -0.00001234},
                                {NAN, NAN},
                                {10, 1e-8},
                                {0, 0},
                                {NAN, NAN}};
    for (qsizetype i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i].toVariant().toStringList(), expected[i]);
        const QJsonArray n = numbers[i].toArray();
        for (int c = 0; c < 2; ++c) {
            if (std::isnan(values[i][c]))
                EXPECT_TRUE(n[c].isNull());
            else
                EXPECT_DOUBLE_EQ(n[c].toDouble(), values[i][c]);
        }
    }
}

TEST(TableCsvLoading, HeaderLinesAndQuotes) {
    const struct {
        const char* name;
        QByteArray bytes;
        QStringList rows; // Dump of the loaded table
    } cases[] = {
        {"columns in another order and case, a byte-order mark, LF line ends, blank lines",
         "\xEF\xBB\xBFjudge,UNIT,value,function,timestamp,no\n\n"
         "Pass,k\xCE\xA9,1.5,Ohm,2026-12-10T14:03:07+01:00,4\n,,,,,\n",
         {"[4] [14:03:07] [Ohm] [1.5] [K*] [Pass] [15] 2026-12-10T14:03:07+01:00"}},
        {"quoted fields with commas, quotes and a line break; no line end at the end",
         kHeader + "5,\"1,2\",\"a \"\"b\"\"\r\nc\",\"x,y\",V,\"P\"\r\n6,,,,,",
         {"[5] [1,2] [a \"b\"\r\nc] [x,y] [V] [P] - ", "[6] [] [] [] [] [] - "}},
        {"fewer fields than the header; a plain number with a sign",
         kHeader + "7,10:20:30,DC,+1.25\r\n",
         {"[7] [10:20:30] [DC] [+1.25] [] [] [125] "}},
        {"an overload without a value, and an overload with its text kept",
         kHeader + "8,,DC,,V,Fail,,,1\r\n9,,DC,-0.L,V,Fail,,,1\r\n",
         {"[8] [] [DC] [0L] [V] [Fail] - ", "[9] [] [DC] [-0.L] [V] [Fail] - "}},
        {"a header alone", kHeader, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordTable table;
        const FileResult r = LoadTableCsv(c.bytes, table, {}, CsvLocale());
        EXPECT_TRUE(r.ok()) << r.error.toStdString();
        EXPECT_EQ(Dump(table), c.rows);
    }
}

// Bad files give a failure; rows of the lines before the failing line stay, and
// the table stays usable.
TEST(TableCsvLoading, MalformedFilesFailKeepingEarlierRows) {
    const QByteArray good = "1,10:20:30,DC,1.5,V,Pass\r\n";
    const struct {
        const char* name;
        QByteArray bytes;
        int rowsKept;
    } cases[] = {
        {"empty file", "", 0},
        {"tab-separated text", "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n1\t10:20:30\r\n", 0},
        {"a column missing", "No,Timestamp,Function,Value,Unit\r\n", 0},
        {"more fields than the header", kHeader + good + "2,,,,,,,,,extra\r\n", 1},
        {"a No that is no whole number", kHeader + good + "two,,,,,\r\n", 1},
        {"an unterminated quote", kHeader + good + "3,\"10:20:30,DC\r\n", 1},
        {"text after a closing quote", kHeader + good + "3,\"a\"b,DC\r\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordTable table;
        const FileResult r = LoadTableCsv(c.bytes, table, {}, CsvLocale());
        EXPECT_TRUE(r.failed());
        EXPECT_FALSE(r.error.isEmpty());
        EXPECT_EQ(table.rowCount(), c.rowsKept);
        table.Append(LoadedRow(1, "t", "DC", "1", "V", QStringLiteral("Pass")));
        EXPECT_EQ(table.rowCount(), c.rowsKept + 1);
    }
}

// "Open" and "Save" pick the format by the name; saves are atomic, loads can be
// cancelled, and the logger's appender writes each row as it arrives.
TEST_F(TableCsvTest, SaveAndLoadByNameProgressAndAppender) {
    const CsvLocale system = CsvLocale::System();
    Record(table, kReadings, kMoment, system);
    const QString name = Path(QStringLiteral("Run.CSV"));
    ASSERT_TRUE(SaveTable(table, name).ok());
    EXPECT_EQ(ReadFile(name), TableCsvBytes(table));
    RecordTable loaded;
    ASSERT_TRUE(LoadDataFile(name, loaded).ok());
    EXPECT_EQ(TableCsvBytes(loaded), ReadFile(name));

    // A save that cannot be written reports failure and keeps the old file.
    EXPECT_TRUE(SaveTable(table, Path(QStringLiteral("missing/a.csv"))).failed());
    const FileResult cancelled =
        SaveTableCsv(table, name, [](qint64 done, qint64) { return done == 0 ? false : true; });
    EXPECT_TRUE(cancelled.cancelled());
    EXPECT_EQ(ReadFile(name), TableCsvBytes(table));

    // A cancelled load leaves the table as it was.
    RecordTable big;
    for (int i = 0; i < 2 * kProgressStep; ++i)
        big.Append(LoadedRow(i, "t", "DC", "1", "V", QStringLiteral("Pass")));
    const QString bigName = Path(QStringLiteral("big.csv"));
    ASSERT_TRUE(SaveTableCsv(big, bigName).ok());
    RecordTable target;
    target.Append(LoadedRow(42, "t", "DC", "1", "V", QStringLiteral("Pass")));
    EXPECT_TRUE(
        LoadDataFile(bigName, target, [](qint64 done, qint64) { return done == 0; }).cancelled());
    EXPECT_EQ(target.rowCount(), 1);

    // The appender: header at once, then every row as it arrives.
    const QString logName = Path(QStringLiteral("log.csv"));
    RecordTable growing;
    TableCsvAppender appender(nullptr, system);
    ASSERT_TRUE(appender.open(logName));
    appender.follow(growing);
    EXPECT_EQ(ReadFile(logName), kHeader);
    for (int i = 0; i < 3; ++i) {
        Record(growing, {{"DC", "120.30", "mV", "Pass", 12030}}, kMoment + i * 1000, system);
        EXPECT_EQ(ReadFile(logName), TableCsvBytes(growing, -1, system));
    }
    appender.close();
    Record(growing, {{"DC", "1", "V", "Pass", 1}}, kMoment, system);
    EXPECT_EQ(ReadFile(logName), TableCsvBytes(growing, 3, system));

    TableCsvAppender broken;
    QString reported;
    QObject::connect(&broken, &TableCsvAppender::writeFailed,
                     [&](const QString& why) { reported = why; });
    EXPECT_FALSE(broken.open(Path(QStringLiteral("missing/log.csv"))));
    EXPECT_TRUE(broken.failed());
    EXPECT_FALSE(reported.isEmpty());
    if (QFileInfo::exists(QStringLiteral("/dev/full"))) {
        TableCsvAppender full;
        EXPECT_FALSE(full.open(QStringLiteral("/dev/full")));
        EXPECT_TRUE(full.failed());
    }
}
