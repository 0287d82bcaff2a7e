#include "tools/orvex-log/ReadingJson.h"

#include "protocol/UnitTable.h"

#include <charconv>
#include <cmath>

namespace orvex {

namespace {

void AppendString(std::string& out, const QString& text) {
    static const char* hex = "0123456789abcdef";
    out += '"';
    for (const char c : text.toStdString()) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 0xF];
        } else {
            out += c;
        }
    }
    out += '"';
}

void AppendNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

void AppendInteger(std::string& out, long long value) {
    out += std::to_string(value);
}

} // namespace

std::string ReadingJson(const QString& frameText, const MeterReading& r) {
    std::string out;
    out.reserve(256);
    out += "{\"frame\":";
    AppendString(out, frameText);
    out += ",\"value\":";
    AppendString(out, r.valueText);
    out += ",\"counts\":";
    AppendInteger(out, std::llround(r.counts));
    out += ",\"scaled\":";
    AppendNumber(out, r.scaledValue);
    out += ",\"unit\":";
    AppendString(out, r.unitText);
    out += ",\"function\":";
    AppendString(out, r.functionText);
    out += ",\"range\":";
    AppendString(out, r.rangeModeText);
    out += ",\"point\":";
    AppendInteger(out, r.pointIndex);
    out += ",\"sign\":";
    AppendString(out, r.signText);
    out += ",\"digits\":[";
    for (std::size_t i = 0; i < r.digitTexts.size(); ++i) {
        if (i) out += ',';
        AppendString(out, r.digitTexts[i]);
    }
    out += "],\"lit\":[";
    const QStringList lit = r.litSet.names();
    for (qsizetype i = 0; i < lit.size(); ++i) {
        if (i) out += ',';
        AppendString(out, lit[i]);
    }
    out += "],\"bar\":";
    AppendInteger(out, r.barPosition);
    out += '}';
    return out;
}

std::string ReadingJson(const QString& frameText, const MeterReading& reading,
                        const RecordingJson& recording) {
    std::string out = ReadingJson(frameText, reading);
    out.pop_back(); // the closing brace
    out += ",\"verdict\":";
    AppendString(out, recording.verdict);
    out += recording.recorded ? ",\"recorded\":true" : ",\"recorded\":false";
    if (recording.recorded) {
        out += ",\"no\":";
        AppendInteger(out, recording.no);
    }
    out += '}';
    return out;
}

std::string ReadingJson(const QString& frameText, const MeterReading& reading,
                        const RecordingJson& recording, const DatedJson& dated) {
    std::string out = ReadingJson(frameText, reading, recording);
    out.pop_back(); // the closing brace
    out += ",\"time\":";
    if (dated.time.isEmpty())
        out += "null";
    else
        AppendString(out, dated.time);
    const ReadingInUnits r =
        DescribeReading(reading.valueText, reading.unitText, dated.decimalSeparator);
    out += ",\"unit_text\":";
    AppendString(out, r.unit);
    out += ",\"base_value\":";
    // A plain decimal is a JSON number as it stands.
    out += r.baseValue.isEmpty() ? std::string("null") : r.baseValue.toStdString();
    out += ",\"base_unit\":";
    if (r.baseValue.isEmpty())
        out += "null";
    else
        AppendString(out, r.baseUnit);
    out += '}';
    return out;
}

} // namespace orvex
