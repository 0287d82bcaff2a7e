#include "protocol/MeterProfile.h"

#include <array>

namespace orvex {

namespace {

const std::array<MeterProfile, 4>& ProfileTable() {
    static const std::array<MeterProfile, 4> table{{
        {QStringLiteral("6"), 6000, 60, std::nullopt, QStringLiteral("6000"),
         QStringLiteral("-6000")},
        {QStringLiteral("34"), 3400, 34, std::nullopt, QStringLiteral("3400"),
         QStringLiteral("-3400")},
        {QStringLiteral("2"), 20000, 20, 20, QStringLiteral("20000"), QStringLiteral("-20000")},
        {QStringLiteral("22"), 22000, 22, 22, QStringLiteral("22000"), QStringLiteral("-22000")},
    }};
    return table;
}

} // namespace

std::span<const MeterProfile> MeterProfiles() {
    return ProfileTable();
}

const MeterProfile* FindMeterProfile(const QString& profileCode) {
    for (const MeterProfile& row : ProfileTable())
        if (row.profileCode == profileCode) return &row;
    return nullptr;
}

} // namespace orvex
