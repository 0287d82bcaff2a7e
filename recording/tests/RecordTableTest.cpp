#include "recording/RecordTable.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace orvex;

namespace {

RecordRow Reading(int no, const QString& time, const QString& fn, const QString& value,
                  const QString& unit, const QString& verdict, int counts) {
    RecordRow row;
    row.fields[FieldNo] = FieldValue::Int(no);
    row.fields[FieldTime] = FieldValue::Text(time);
    row.fields[FieldDcAc] = FieldValue::Text(fn);
    row.fields[FieldValue] = FieldValue::Text(value);
    row.fields[FieldUnit] = FieldValue::Text(unit);
    row.fields[FieldAuto] = FieldValue::Text(verdict);
    row.fields[FieldNVal] = FieldValue::Int(counts);
    return row;
}

} // namespace

TEST(RecordTableFields, NamesAndLookupIgnoreCase) {
    const char* names[] = {"No", "time", "DC/AC", "Value", "Unit", "Auto", "NVal"};
    for (int f = 0; f < RecordTable::kFieldCount; ++f)
        EXPECT_EQ(RecordTable::FieldName(f), QString::fromLatin1(names[f]));

    struct Case {
        const char* name;
        int field;
    } cases[] = {{"no", FieldNo},
                 {"NO", FieldNo},
                 {"Time", FieldTime},
                 {"TIME", FieldTime},
                 {"dc/ac", FieldDcAc},
                 {"value", FieldValue},
                 {"unit", FieldUnit},
                 {"AUTO", FieldAuto},
                 {"Auto", FieldAuto},
                 {"Nval", FieldNVal},
                 {"nval", FieldNVal},
                 {"Judge", -1},
                 {"", -1},
                 {"No ", -1},
                 {"DCAC", -1}};
    for (const Case& c : cases)
        EXPECT_EQ(RecordTable::FieldIndex(QString::fromLatin1(c.name)), c.field) << c.name;

    EXPECT_TRUE(RecordTable::IsIntegerField(FieldNo));
    EXPECT_TRUE(RecordTable::IsIntegerField(FieldNVal));
    EXPECT_FALSE(RecordTable::IsIntegerField(FieldValue));
    EXPECT_EQ(RecordTable::FieldName(7), QString());
    EXPECT_EQ(RecordTable::FieldName(-1), QString());
}

TEST(RecordTableRows, AppendKeepsOrderValuesAndCurrentRow) {
    RecordTable table;
    QSignalSpy appended(&table, &RecordTable::rowsAppended);
    QSignalSpy current(&table, &RecordTable::currentRowChanged);
    EXPECT_EQ(table.currentRow(), -1);

    table.Append(Reading(1, "10:20:30", "DC", "1.2345", "V", "Pass", 12345));
    table.Append(Reading(2, "10:20:31", "Ohm", "0L.", "M*", "Fail", -22000));
    table.Append(Reading(3, "10:20:32", "DC", "1.2345", "V", "Pass", 12345));

    ASSERT_EQ(table.rowCount(), 3);
    EXPECT_EQ(table.currentRow(), 2);
    ASSERT_EQ(appended.count(), 3);
    EXPECT_EQ(appended[1][0].toInt(), 1);
    EXPECT_EQ(appended[1][1].toInt(), 1);
    EXPECT_EQ(current.last()[0].toInt(), 2);

    EXPECT_EQ(table.Integer(1, FieldNo), 2);
    EXPECT_EQ(table.Integer(1, FieldNVal), -22000);
    EXPECT_EQ(table.Text(1, FieldNVal), "-22000");
    EXPECT_EQ(table.Text(1, FieldDcAc), "Ohm");
    EXPECT_EQ(table.Text(1, FieldValue), "0L.");
    EXPECT_EQ(table.Text(1, FieldUnit), "M*");
    EXPECT_EQ(table.Text(2, FieldTime), "10:20:32");
    EXPECT_EQ(table.Text(2, FieldAuto), "Pass");
    EXPECT_TRUE(table.IsAppended(0));

    const RecordRow row = table.Row(1);
    EXPECT_TRUE(row.appended);
    EXPECT_EQ(row.fields[FieldTime].text, "10:20:31");
    EXPECT_EQ(row.fields[FieldNo].integer, 2);
    EXPECT_TRUE(row.fields[FieldAuto].has);
}

TEST(RecordTableRows, TextsCutToTwentyCharactersAndEmptyFieldsStayEmpty) {
    RecordTable table;
    RecordRow row;
    row.fields[FieldNo] = FieldValue::Int(0);
    row.fields[FieldValue] = FieldValue::Text(QString(20, 'x'));
    row.fields[FieldUnit] = FieldValue::Text("abcdefghijklmnopqrstuvwxyz");
    row.fields[FieldAuto] = FieldValue::Text("");
    row.appended = false;
    table.Append(row);

    EXPECT_EQ(table.Text(0, FieldValue), QString(20, 'x'));
    EXPECT_EQ(table.Text(0, FieldUnit), "abcdefghijklmnopqrst");
    // A zero is a value; a missing integer is not.
    EXPECT_TRUE(table.Has(0, FieldNo));
    EXPECT_EQ(table.Text(0, FieldNo), "0");
    EXPECT_FALSE(table.Has(0, FieldNVal));
    EXPECT_EQ(table.Text(0, FieldNVal), QString());
    EXPECT_FALSE(table.Has(0, FieldTime));
    EXPECT_FALSE(table.Has(0, FieldDcAc));
    // An empty text is kept as a value, distinct from an empty field.
    EXPECT_TRUE(table.Has(0, FieldAuto));
    EXPECT_EQ(table.Text(0, FieldAuto), QString(""));
    EXPECT_FALSE(table.IsAppended(0));

    const RecordRow back = table.Row(0);
    EXPECT_FALSE(back.fields[FieldTime].has);
    EXPECT_FALSE(back.fields[FieldNVal].has);
    EXPECT_EQ(back.fields[FieldUnit].text.size(), 20);
}

TEST(RecordTableRows, OutOfRangeAccessGivesEmptyValues) {
    RecordTable table;
    table.Append(Reading(1, "t", "DC", "1", "V", "Pass", 1));
    for (int r : {-1, 1, 1000000}) {
        EXPECT_FALSE(table.Has(r, FieldNo)) << r;
        EXPECT_EQ(table.Integer(r, FieldNo), 0) << r;
        EXPECT_EQ(table.Text(r, FieldValue), QString()) << r;
        EXPECT_FALSE(table.IsAppended(r)) << r;
    }
    EXPECT_FALSE(table.Has(0, 7));
    EXPECT_FALSE(table.Has(0, -1));
}

TEST(RecordTableRows, RowsAcrossBlockBoundaryKeepTheirValues) {
    RecordTable table;
    const int n = 70000; // more than one storage block
    for (int i = 0; i < n; ++i)
        table.Append(Reading(i + 1, QString::number(i % 60), i % 2 ? "AC" : "DC",
                             QString::number(i), "V", i % 3 ? "Pass" : "Fail", -i));
    ASSERT_EQ(table.rowCount(), n);
    for (int i : {0, 2047, 2048, 65535, 65536, 65537, n - 1}) {
        EXPECT_EQ(table.Integer(i, FieldNo), i + 1);
        EXPECT_EQ(table.Integer(i, FieldNVal), -i);
        EXPECT_EQ(table.Text(i, FieldValue), QString::number(i));
        EXPECT_EQ(table.Text(i, FieldTime), QString::number(i % 60));
        EXPECT_EQ(table.Text(i, FieldDcAc), i % 2 ? "AC" : "DC");
        EXPECT_EQ(table.Text(i, FieldAuto), i % 3 ? "Pass" : "Fail");
    }
}

TEST(RecordTableRows, EmptyAndCurrentRow) {
    RecordTable table;
    for (int i = 1; i <= 3; ++i)
        table.Append(Reading(i, "t", "DC", "1", "V", "Pass", i));
    table.setCurrentRow(0);
    EXPECT_EQ(table.currentRow(), 0);
    table.setCurrentRow(99);
    EXPECT_EQ(table.currentRow(), 2);
    table.setCurrentRow(-5);
    EXPECT_EQ(table.currentRow(), -1);

    QSignalSpy reset(&table, &RecordTable::reset);
    table.Empty();
    EXPECT_EQ(table.rowCount(), 0);
    EXPECT_EQ(table.currentRow(), -1);
    EXPECT_EQ(reset.count(), 1);

    table.Append(Reading(1, "u", "AC", "2", "A", "Fail", 2));
    EXPECT_EQ(table.rowCount(), 1);
    EXPECT_EQ(table.Text(0, FieldDcAc), "AC");
    EXPECT_EQ(table.Text(0, FieldTime), "u");
    EXPECT_EQ(table.currentRow(), 0);
}

TEST(RecordTableRows, ReplaceWithTakesAllRowsAndEmptiesTheSource) {
    RecordTable table;
    table.Append(Reading(1, "t", "DC", "1", "V", "Pass", 1));
    RecordTable loaded;
    RecordRow unmarked = Reading(7, "10:20:30", "AC", "2,5", "mV", "Fail", 25);
    unmarked.appended = false;
    loaded.Append(unmarked);
    loaded.Append(Reading(8, "10:20:31", "AC", "2,6", "mV", "Pass", 26));
    loaded.setCurrentRow(0);

    QSignalSpy reset(&table, &RecordTable::reset);
    table.ReplaceWith(loaded);
    EXPECT_EQ(reset.count(), 1);
    ASSERT_EQ(table.rowCount(), 2);
    EXPECT_EQ(table.Integer(0, FieldNo), 7);
    EXPECT_FALSE(table.IsAppended(0));
    EXPECT_TRUE(table.IsAppended(1));
    EXPECT_EQ(table.Text(1, FieldValue), "2,6");
    EXPECT_EQ(table.currentRow(), 0);
    EXPECT_EQ(loaded.rowCount(), 0);
    EXPECT_EQ(loaded.currentRow(), -1);

    // The emptied source is usable again.
    loaded.Append(Reading(1, "x", "DC", "3", "V", "Pass", 3));
    EXPECT_EQ(loaded.Text(0, FieldValue), "3");
    table.ReplaceWith(table); // no-op, never loses rows
    EXPECT_EQ(table.rowCount(), 2);
}

TEST(RecordTableRows, TextsAreCutByCharacterNotByUtf16Unit) {
    const QString smile = QString::fromUcs4(U"\U0001F600");
    const struct {
        QString text;
        QString kept;
    } cases[] = {
        {QString(19, 'a') + smile + "b", QString(19, 'a') + smile}, // 20 characters, 21 units
        {QString(20, 'a') + smile, QString(20, 'a')},
        {QString(10, smile[0]) + smile,
         QString(10, smile[0]) + smile}, // lone halves count one each
        {smile.repeated(25), smile.repeated(20)},
    };
    for (const auto& c : cases) {
        RecordTable table;
        RecordRow row;
        row.fields[FieldUnit] = FieldValue::Text(c.text);
        table.Append(row);
        EXPECT_EQ(table.Text(0, FieldUnit), c.kept) << c.text.toStdString();
        EXPECT_EQ(CutToTextWidth(c.text), c.kept);
    }
}

// Appending the rows of another table in one step: every value, mark, empty field
// and timestamp comes across, across block boundaries on both sides, with one
// signal for all of them.
TEST(RecordTableRows, AppendRowsCopiesRowsInOneStep) {
    RecordTable source;
    const int n = 5000;
    for (int i = 0; i < n; ++i) {
        RecordRow row =
            Reading(i + 1, QString::number(i % 61), i % 2 ? "AC" : "DC", QString::number(i),
                    i % 5 ? "V" : "mV", i % 3 ? "Pass" : "Fail", -i);
        if (i % 7 == 0) row.fields[FieldValue] = FieldCell();
        if (i % 11 == 0) row.fields[FieldNVal] = FieldCell();
        row.appended = i % 4 != 0;
        if (i % 2) row.timestamp = RecordTimestamp::Of(1796907787000 + i * 1000, 60);
        source.Append(row);
    }
    RecordTable table;
    for (int i = 0; i < 3; ++i)
        table.Append(Reading(100 + i, "x", "Ohm", "7", "K*", "Fail", 7));

    QSignalSpy appended(&table, &RecordTable::rowsAppended);
    QSignalSpy current(&table, &RecordTable::currentRowChanged);
    const int first = 1000, count = 3000;
    table.AppendRows(source, first, count);
    ASSERT_EQ(table.rowCount(), 3 + count);
    ASSERT_EQ(appended.count(), 1);
    EXPECT_EQ(appended[0][0].toInt(), 3);
    EXPECT_EQ(appended[0][1].toInt(), 3 + count - 1);
    ASSERT_EQ(current.count(), 1);
    EXPECT_EQ(table.currentRow(), 3 + count - 1);
    for (int i = 0; i < count; ++i) {
        const RecordRow want = source.Row(first + i);
        const RecordRow got = table.Row(3 + i);
        ASSERT_EQ(got.appended, want.appended) << i;
        ASSERT_EQ(got.timestamp, want.timestamp) << i;
        for (int f = 0; f < RecordTable::kFieldCount; ++f) {
            ASSERT_EQ(got.fields[f].has, want.fields[f].has) << i << " " << f;
            ASSERT_EQ(got.fields[f].integer, want.fields[f].integer) << i << " " << f;
            ASSERT_EQ(got.fields[f].text, want.fields[f].text) << i << " " << f;
        }
    }
    EXPECT_EQ(table.Text(0, FieldValue), "7"); // the rows before are untouched

    // The rest from a position on, a range beyond the end, the table itself.
    table.AppendRows(source, n - 2);
    EXPECT_EQ(table.rowCount(), 3 + count + 2);
    EXPECT_EQ(table.Integer(table.rowCount() - 1, FieldNo), n);
    table.AppendRows(source, n + 10, 5);
    table.AppendRows(table);
    EXPECT_EQ(table.rowCount(), 3 + count + 2);
    EXPECT_EQ(appended.count(), 2);
}
