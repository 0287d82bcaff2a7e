// The comma-separated table through the window: readings recorded with their
// dates, saved with "Save" as a fourth type and read back with "Open".

#include "app/tests/WindowFixture.h"
#include "files/TableCsv.h"
#include "recording/RecordTable.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QToolButton>

namespace {

struct CsvThroughTheWindow : Window {
    RecordTable& Table() { return w->state().recording.cds1; }
};

} // namespace

TEST_F(CsvThroughTheWindow, RecordedDatesGoOutAsCsvAndComeBackWithOpen) {
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    // 1.2345 V DC, then 120.30 mV DC, then an overload.
    Feed({Reading({1, 2, 3, 4, 5}, 11, 0), Reading({1, 2, 0, 3, 0}, 11, 4),
          Reading({0, 0, 0, 0, 0}, 11, 1, 10, 1)});
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    ASSERT_EQ(Table().rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        const RecordTimestamp stamp = Table().Timestamp(row);
        ASSERT_TRUE(stamp.valid);
        EXPECT_GE(stamp.msecsSinceEpoch, before - 1000);
        EXPECT_LE(stamp.msecsSinceEpoch, after);
    }

    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("day.csv"));
    dialogs.fileNames = {name};
    w->control<QToolButton>(QStringLiteral("saveas"))->click();
    ASSERT_EQ(dialogs.fileRequests.size(), 1);
    EXPECT_TRUE(dialogs.fileRequests[0].filter.endsWith(QStringLiteral(";;CSV File(*.csv)")));
    EXPECT_EQ(dialogs.informations, QStringList{QStringLiteral("save table to specified file: ") +
                                                name + QStringLiteral(" Scuss!")});
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    auto stamp = [this](int row) { return IsoTimestampText(Table().Timestamp(row)).toLatin1(); };
    const QByteArray expected = CsvHeaderLine() +                                      //
                                "1," + stamp(0) + ",DC,1.2345,V,Pass,1.2345,V,\r\n" +  //
                                "2," + stamp(1) + ",DC,120.30,mV,Pass,0.1203,V,\r\n" + //
                                "3," + stamp(2) + ",DC,,V,Fail,,,1\r\n";
    EXPECT_EQ(file.readAll(), expected);

    dialogs.fileNames = {name};
    w->control<QToolButton>(QStringLiteral("OpenDataFiles"))->click();
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(' ').toStdString();
    ASSERT_EQ(Table().rowCount(), 6);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(Table().Timestamp(row + 3).msecsSinceEpoch,
                  Table().Timestamp(row).msecsSinceEpoch / 1000 * 1000);
        EXPECT_EQ(Table().Text(row + 3, FieldTime), Table().Text(row, FieldTime));
        EXPECT_EQ(Table().Text(row + 3, FieldUnit), Table().Text(row, FieldUnit));
    }
    EXPECT_EQ(Table().Text(4, FieldValue), Table().Text(1, FieldValue));
    EXPECT_EQ(Table().Text(5, FieldValue), QStringLiteral("0L"));
}
