// The road of a packet without a window: raw bytes through the packet assembler,
// the decoder, the limit judge, the recording gates and the logger's JSON line.
//
// Input: eight bytes of choices (record limit, repeat filter, sampling interval,
// decimal separator, how the bytes are cut into runs, the moment and its UTC
// offset), then the received bytes.
// Checked: every frame handed on passes the frame check; a decoded reading is
// consistent; the table gets exactly the rows the gates say, numbered in order,
// never more than the limit; every JSON line is one valid JSON object.

#include "fuzz/FuzzSupport.h"
#include "protocol/MeterReading.h"
#include "protocol/PacketAssembler.h"
#include "recording/LimitJudge.h"
#include "recording/RecordTable.h"
#include "recording/RecordTimestamp.h"
#include "recording/Recorder.h"
#include "tools/orvex-log/ReadingJson.h"

#include <cstdint>
#include <string>

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteReader in(data, size);
    const std::uint8_t limitByte = in.Byte();
    const std::uint8_t flags = in.Byte();
    const std::uint8_t intervalByte = in.Byte();
    const std::uint8_t runByte = in.Byte();
    // A moment within about 2600 years of 1970, an offset of up to +-32 hours
    // (more than the table accepts: such a moment has no date).
    std::int32_t moment = in.Byte();
    moment = (moment << 8) | in.Byte();
    moment = (moment << 8) | in.Byte();
    if (moment & 0x800000) moment -= 0x1000000;
    const int offsetMinutes = (int(in.Byte()) - 128) * 15;
    const RecordTimestamp stamp =
        RecordTimestamp::Of(std::int64_t(moment) * 10000000, offsetMinutes);
    const QString isoTime = IsoTimestampText(stamp);

    const QString separator = in.Bit(flags, 2)   ? QStringLiteral(",")
                              : in.Bit(flags, 3) ? QString()
                                                 : QStringLiteral(".");
    RecordTable table;
    TRecorder recorder(&table);
    recorder.recordLimit = limitByte;
    const bool repeat = in.Bit(flags, 0);
    const bool sampling = in.Bit(flags, 1);

    int frames = 0;
    int expectedRows = 0;
    TPacketAssembler assembler;
    assembler.onFrame = [&](const QString& frame) {
        ++frames;
        FUZZ_CHECK(frame.size() >= 2 && frame.front() == QLatin1Char('A') &&
                       frame.back() == QLatin1Char('D'),
                   frame.toStdString());
        FUZZ_CHECK(assembler.frameText() == frame, frame.toStdString());
        const DecodeResult res = DecodeFrame(frame, separator, 22000, 22);
        FUZZ_CHECK(res.reading.bitText.size() <= 48, frame.toStdString());
        if (!res.ok) {
            FUZZ_CHECK(!res.error.isEmpty(), frame.toStdString());
            return;
        }
        const MeterReading& r = res.reading;
        FUZZ_CHECK(r.rangeModeText == QLatin1String("AUTO") ||
                       r.rangeModeText == QLatin1String("MANU"),
                   frame.toStdString());
        FUZZ_CHECK(r.pointIndex >= 0 && r.pointIndex <= 3, frame.toStdString());
        FUZZ_CHECK(r.counts == static_cast<double>(static_cast<long long>(r.counts)),
                   frame.toStdString());

        const Verdict verdict =
            JudgeReading(r.valueText, FrameDigits(frame), QStringLiteral("-22000"),
                         QStringLiteral("22000"), separator);
        RecordInput input;
        input.SetReading(r);
        input.verdictText = VerdictText(verdict);
        input.recordSIChecked = sampling;
        input.repeatSetChecked = repeat;
        input.recordSITimeText = QString::number(intervalByte % 4);
        input.timeText = QStringLiteral("12:34:56");
        input.timestamp = stamp;
        const int before = table.rowCount();
        const QString lastKey = recorder.lastRecordKey;
        const RecordOutcome outcome = recorder.INDataToTable(input);
        FUZZ_CHECK(table.rowCount() == before + (outcome.appended ? 1 : 0), frame.toStdString());
        if (outcome.appended) {
            ++expectedRows;
            FUZZ_CHECK(outcome.no == table.rowCount(), frame.toStdString());
            FUZZ_CHECK(table.Integer(outcome.no - 1, FieldNo) == outcome.no, frame.toStdString());
            FUZZ_CHECK(table.Text(outcome.no - 1, FieldValue) ==
                           r.valueText.left(RecordTable::kTextWidth),
                       frame.toStdString());
            FUZZ_CHECK(table.Timestamp(outcome.no - 1) == stamp, isoTime.toStdString());
        } else if (!repeat && outcome.feedChart) {
            FUZZ_CHECK(lastKey == r.valueText + r.functionText + r.unitText + r.rangeModeText,
                       frame.toStdString());
        }
        FUZZ_CHECK(recorder.recordCount <= recorder.recordLimit, frame.toStdString());

        const std::string line =
            ReadingJson(frame, r, RecordingJson{input.verdictText, outcome.appended, outcome.no},
                        DatedJson{isoTime, separator});
        FUZZ_CHECK(fuzz::JsonChecker::IsValue(line), line);
        FUZZ_CHECK(line.find('\n') == std::string::npos, line);
        if (stamp.valid) {
            const auto parsed = ParseIsoTimestamp(isoTime);
            FUZZ_CHECK(parsed && *parsed == stamp, isoTime.toStdString());
        }

        // The sampling countdown runs down between some frames.
        if (sampling && (frames & 3) == 0) recorder.TrecordTimer(true);
    };

    // The received bytes in runs of 1..16 bytes (or all at once).
    const std::size_t run = runByte & 0x10 ? in.left() : std::size_t(runByte & 0x0F) + 1;
    while (in.left() > 0) {
        const std::string_view bytes = in.Take(run);
        assembler.OrvexDATA(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                            static_cast<int>(bytes.size()));
        FUZZ_CHECK(assembler.lowNibbleText().size() <= TPacketAssembler::kMaxLowNibbleText,
                   std::to_string(assembler.lowNibbleText().size()));
    }
    FUZZ_CHECK(table.rowCount() == expectedRows, std::to_string(table.rowCount()));
    FUZZ_CHECK(recorder.recordCount == expectedRows, std::to_string(recorder.recordCount));
    return 0;
}
