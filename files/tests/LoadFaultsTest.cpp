// Loading and writing table files where it used to go wrong: appending a large
// text file, rows recorded during an XML load, characters above U+FFFF, packets
// declaring many fields.

#include "files/TableCsv.h"
#include "files/TableFiles.h"
#include "recording/Recorder.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace orvex;

namespace {

RecordRow Reading(int no, const QString& value, const QString& unit = QStringLiteral("V")) {
    RecordRow row;
    row.fields[FieldNo] = FieldValue::Int(no);
    row.fields[FieldTime] = FieldValue::Text(QStringLiteral("10:20:30"));
    row.fields[FieldDcAc] = FieldValue::Text(QStringLiteral("DC"));
    row.fields[FieldValue] = FieldValue::Text(value);
    row.fields[FieldUnit] = FieldValue::Text(unit);
    row.fields[FieldAuto] = FieldValue::Text(QStringLiteral("Pass"));
    row.fields[FieldNVal] = FieldValue::Int(no);
    return row;
}

void Fill(RecordTable& table, int rows, int firstNo = 1) {
    for (int i = 0; i < rows; ++i)
        table.Append(Reading(firstNo + i, QString::number(i % 977)));
}

// One frame as the recorder takes it.
RecordInput Frame(const QString& value) {
    RecordInput in;
    in.valueText = value;
    in.functionText = QStringLiteral("DC");
    in.unitText = QStringLiteral("V");
    in.rangeModeText = QStringLiteral("AUTO");
    in.verdictText = QStringLiteral("Pass");
    in.timeText = QStringLiteral("11:00:00");
    return in;
}

} // namespace

// A text file appended to a table that already has rows arrives in one step (one
// signal for the grid), with the rows the file holds, after the rows there.
TEST(LoadFaults, TextLoadIntoANonEmptyTableAppendsInOneStep) {
    RecordTable file;
    Fill(file, 3 * kProgressStep + 5);
    const QByteArray bytes = TableTextBytes(file);

    RecordTable table;
    Fill(table, 3, 900);
    QSignalSpy appended(&table, &RecordTable::rowsAppended);
    QSignalSpy current(&table, &RecordTable::currentRowChanged);
    int progressCalls = 0;
    const FileResult r = LoadTableText(bytes, table, [&](qint64, qint64) {
        ++progressCalls;
        return true;
    });
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(r.rows, file.rowCount());
    ASSERT_EQ(table.rowCount(), 3 + file.rowCount());
    EXPECT_EQ(appended.count(), 1);
    EXPECT_EQ(current.count(), 1);
    EXPECT_EQ(table.currentRow(), table.rowCount() - 1);
    EXPECT_GE(progressCalls, 3); // the dialog is fed (and may cancel) while reading
    QByteArray expected = TextHeaderLine();
    for (int row = 0; row < 3; ++row)
        AppendTextLine(expected, table, row);
    expected += bytes.mid(TextHeaderLine().size());
    EXPECT_EQ(TableTextBytes(table), expected);
}

// Frames recorded while an XML load runs the event loop (in its progress
// callback) are recorded rows: they stay, after the rows of the file, and the
// recorder's count agrees with the table.
TEST(LoadFaults, XmlLoadKeepsRowsRecordedMeanwhile) {
    RecordTable file;
    Fill(file, 2 * kProgressStep + 10);
    const QByteArray bytes = TableXmlBytes(file);

    RecordTable table;
    TRecorder recorder(&table);
    recorder.INDataToTable(Frame(QStringLiteral("1.0000"))); // before the load: replaced
    int during = 0;
    const FileResult r = LoadTableXml(bytes, table, [&](qint64 done, qint64 total) {
        if (done > 0 && done < total) {
            recorder.INDataToTable(Frame(QString::number(2 + during) + QStringLiteral(".0000")));
            ++during;
        }
        return true;
    });
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    ASSERT_GE(during, 1);
    EXPECT_EQ(r.rows, file.rowCount());
    ASSERT_EQ(table.rowCount(), file.rowCount() + during);
    EXPECT_EQ(recorder.recordCount, 1 + during);
    for (int i = 0; i < during; ++i) {
        const int row = file.rowCount() + i;
        EXPECT_EQ(table.Integer(row, FieldNo), 2 + i);
        EXPECT_EQ(table.Text(row, FieldValue), QString::number(2 + i) + QStringLiteral(".0000"));
        EXPECT_TRUE(table.IsAppended(row));
    }
    EXPECT_EQ(table.Integer(0, FieldNo), 1); // the file's first row
    EXPECT_EQ(table.currentRow(), 0);

    // "New" while the load runs: what was recorded after it stays.
    bool cleared = false;
    const FileResult again = LoadTableXml(bytes, table, [&](qint64 done, qint64) {
        if (done > 0 && !cleared) {
            cleared = true;
            recorder.ClearForNew();
            recorder.INDataToTable(Frame(QStringLiteral("9.0000")));
        }
        return true;
    });
    ASSERT_TRUE(again.ok());
    ASSERT_EQ(table.rowCount(), file.rowCount() + 1);
    EXPECT_EQ(table.Text(table.rowCount() - 1, FieldValue), QStringLiteral("9.0000"));
}

// A character above U+FFFF is written as one reference to its code point, loads
// back, and is never cut in half at the 20-character width.
TEST(LoadFaults, CharactersAboveU10000RoundTripWhole) {
    const QString smile = QString::fromUcs4(U"\U0001F600");
    const QByteArray packet =
        "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
        "<FIELD attrname=\"Unit\" fieldtype=\"string\" WIDTH=\"20\"/>"
        "<FIELD attrname=\"Value\" fieldtype=\"string\" WIDTH=\"20\"/></FIELDS><PARAMS/>"
        "</METADATA><ROWDATA><ROW Unit=\"&#x1F600;\" "
        "Value=\"aaaaaaaaaaaaaaaaaaa&#128512;b\"/></ROWDATA></DATAPACKET>";
    RecordTable table;
    const FileResult r = LoadTableXml(packet, table);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(table.Text(0, FieldUnit), smile);
    EXPECT_EQ(table.Text(0, FieldValue), QString(19, 'a') + smile); // 20 characters

    const QByteArray saved = TableXmlBytes(table);
    EXPECT_TRUE(saved.contains("Unit=\"&#128512;\"")) << saved.toStdString();
    EXPECT_FALSE(saved.contains("&#55357;"));
    RecordTable again;
    const FileResult reloaded = LoadTableXml(saved, again);
    ASSERT_TRUE(reloaded.ok()) << reloaded.error.toStdString();
    EXPECT_EQ(TableXmlBytes(again), saved);

    // The single-byte text format writes one "?" for it.
    EXPECT_TRUE(TableTextBytes(table).contains("\tNULL\tNULL\taaaaaaaaaaaaaaaaaaa?\t?\tNULL\r\n"))
        << TableTextBytes(table).toStdString();
}

// A packet declaring many fields: each row attribute finds its declaration by
// name (letter case ignored, the first declaration of a name counts), and a
// declaration of a field the table lacks drops that attribute.
TEST(LoadFaults, PacketWithManyFieldDeclarations) {
    const int extra = 5000;
    QByteArray packet = "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";
    for (int i = 0; i < extra; ++i)
        packet += "<FIELD attrname=\"F" + QByteArray::number(i) + "\" fieldtype=\"string\"/>";
    packet += "<FIELD attrname=\"Meter_Unit\" fieldname=\"Unit\" fieldtype=\"string\"/>"
              "<FIELD attrname=\"meter_unit\" fieldname=\"Value\" fieldtype=\"string\"/>"
              "<FIELD attrname=\"Nr\" fieldname=\"No\" fieldtype=\"i4\"/>"
              "</FIELDS><PARAMS/></METADATA><ROWDATA>";
    for (int i = 0; i < extra; ++i)
        packet += "<ROW F" + QByteArray::number(i) + "=\"x\" METER_UNIT=\"V\" nr=\"" +
                  QByteArray::number(i) + "\"/>";
    packet += "</ROWDATA></DATAPACKET>";

    RecordTable table;
    const FileResult r = LoadTableXml(packet, table);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    ASSERT_EQ(table.rowCount(), extra);
    for (int row : {0, extra / 2, extra - 1}) {
        EXPECT_EQ(table.Integer(row, FieldNo), row);
        EXPECT_EQ(table.Text(row, FieldUnit), QStringLiteral("V"));
        EXPECT_FALSE(table.Has(row, FieldValue));
        EXPECT_FALSE(table.Has(row, FieldTime));
    }
}

namespace {

// Sets the file size limit of this process for the life of the object: a write
// that crosses it stops part-way and the next one fails, as on a full disk.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved_;
        small.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    bool ok() const { return ok_; }

  private:
    struct rlimit saved_ {};
    void (*previous_)(int) = nullptr;
    bool ok_ = false;
};

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// A logger's file on a full disk (the file size limit stands in for it) ends with
// its last complete row: the row that did not fit is cut away before the error
// is reported, so the file loads back without a broken row.
TEST(LoadFaults, AppendersOnAFullDiskKeepOnlyCompleteRows) {
    QTemporaryDir dir;
    RecordTable table;
    Fill(table, 40);
    for (const bool csv : {false, true}) {
        for (const bool batch : {false, true}) {
            SCOPED_TRACE(std::string(csv ? "csv" : "text") + (batch ? ", rows in one batch" : ""));
            const QString path = dir.filePath(csv ? "log.csv" : "log.txt");
            TableTextAppender text;
            TableCsvAppender comma;
            QSignalSpy failed(csv ? static_cast<QObject*>(&comma) : &text,
                              SIGNAL(writeFailed(QString)));
            {
                FileSizeLimit limit(700);
                ASSERT_TRUE(limit.ok());
                ASSERT_TRUE(csv ? comma.open(path) : text.open(path));
                if (batch) {
                    EXPECT_FALSE(csv ? comma.appendRows(table, 0, 39)
                                     : text.appendRows(table, 0, 39));
                } else {
                    bool all = true;
                    for (int row = 0; row < 40 && all; ++row)
                        all = csv ? comma.appendRows(table, row, row)
                                  : text.appendRows(table, row, row);
                    EXPECT_FALSE(all);
                }
                text.close();
                comma.close();
            }
            EXPECT_EQ(failed.count(), 1);
            EXPECT_TRUE(csv ? comma.failed() : text.failed());
            const QByteArray bytes = ReadAll(path);
            EXPECT_GT(bytes.size(), 100);
            EXPECT_LE(bytes.size(), 700);
            EXPECT_TRUE(bytes.endsWith("\r\n")) << bytes.right(40).toStdString();
            RecordTable back;
            const FileResult r = csv ? LoadTableCsv(bytes, back) : LoadTableText(bytes, back);
            EXPECT_TRUE(r.ok()) << r.error.toStdString();
            ASSERT_GT(back.rowCount(), 0);
            EXPECT_LT(back.rowCount(), 40);
            const QByteArray whole = csv ? TableCsvBytes(table, back.rowCount())
                                         : TableTextBytes(table, back.rowCount());
            EXPECT_EQ(bytes, whole);
        }
    }
}

// Opening never waits: a named pipe nobody writes to, or a device, is refused at
// once when loading, and a pipe nobody reads is refused at once when saving.
TEST(LoadFaults, PipesAndDevicesNeverHoldTheCaller) {
    QTemporaryDir dir;
    const QString pipe = dir.filePath("pipe.xls");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);

    RecordTable table;
    Fill(table, 2);
    const QByteArray before = TableTextBytes(table);
    for (const QString& name : {pipe, QStringLiteral("/dev/null"), dir.path()}) {
        std::atomic<bool> done{false};
        FileResult r;
        std::thread load([&] {
            r = LoadDataFile(name, table);
            done = true;
        });
        const bool finished = QTest::qWaitFor([&] { return done.load(); }, 10000);
        if (!finished) {
            // Free the waiting open() so the test can end, then report.
            const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
        load.join();
        EXPECT_TRUE(finished) << name.toStdString();
        EXPECT_TRUE(r.failed()) << name.toStdString();
    }
    EXPECT_EQ(TableTextBytes(table), before);

    std::atomic<bool> saved{false};
    FileResult s;
    std::thread save([&] {
        RecordTable scratch;
        Fill(scratch, 2);
        s = SaveTable(scratch, pipe);
        saved = true;
    });
    const bool finished = QTest::qWaitFor([&] { return saved.load(); }, 10000);
    if (!finished) {
        const int fd = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
        QTest::qWait(500);
        if (fd >= 0) ::close(fd);
    }
    save.join();
    EXPECT_TRUE(finished);
    EXPECT_TRUE(s.failed());
}
