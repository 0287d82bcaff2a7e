#pragma once
// The meter's full scale and the limits derived from it.

#include <QString>

#include <optional>
#include <span>

namespace orvex {

struct MeterProfile {
    QString profileCode = QStringLiteral("22");
    int fullScaleCounts = 22000;
    int barOverloadPosition = 22;
    std::optional<int> barMaximum; // none leaves the bar's design maximum (40)
    QString setmaxText = QStringLiteral("22000");
    QString setMinText = QStringLiteral("-22000");
};

// The rows "6", "34", "2", "22".
std::span<const MeterProfile> MeterProfiles();

// The row with that code, or nullptr.
const MeterProfile* FindMeterProfile(const QString& profileCode);

} // namespace orvex
