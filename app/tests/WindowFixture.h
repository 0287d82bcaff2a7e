#pragma once
// A main window with scripted dialogs and packets fed through its receive handler.

#include "app/TFCOMM.h"
#include "app/tests/ScriptedDialogs.h"
#include "protocol/PacketEncoder.h"
#include "testing/SampleRows.h"

#include <QLabel>
#include <QProcess>

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

using namespace orvex;
using orvex::testing::ScriptedDialogs;

struct Window : ::testing::Test {
    ScriptedDialogs dialogs;
    std::unique_ptr<TFCOMM> w;

    void SetUp() override {
        WindowOptions options;
        options.dialogs = &dialogs;
        options.machineProbe = [] { return QStringLiteral("x86_64"); };
        w = std::make_unique<TFCOMM>(options);
    }

    // Sends packets the way the serial driver hands them over: one batch; the
    // first batch starts with the line feed that ends the packet before it.  The
    // controls are then brought up to date, as the next screen refresh would.
    bool primed = false;
    void Feed(const std::vector<PacketFields>& packets) {
        std::vector<std::uint8_t> bytes;
        if (!std::exchange(primed, true)) bytes.push_back(0x0A);
        for (const auto& f : packets) {
            const Packet p = EncodePacket(f);
            bytes.insert(bytes.end(), p.begin(), p.end());
        }
        w->OrvexDATA(nullptr, bytes.data(), static_cast<int>(bytes.size()));
        w->FlushView();
    }

    bool Shown(const char* name) const {
        QWidget* c = w->control(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c && !c->isHidden();
    }
    QString Caption(const char* name) const {
        auto* label = w->control<QLabel>(QString::fromLatin1(name));
        EXPECT_NE(label, nullptr) << name;
        return label ? label->text() : QString();
    }
};

using orvex::testing::RecordedRow;

// Starts the virtual meter sending 40 packets a second and returns the device it
// prints; empty when it does not start or print one.
inline QString StartVirtualMeter(QProcess& meter) {
    meter.start(QStringLiteral(ORVEX_METER_SIM_PATH),
                {QStringLiteral("--rate"), QStringLiteral("40")});
    if (!meter.waitForStarted(10000) || !meter.waitForReadyRead(10000)) return {};
    return QString::fromLocal8Bit(meter.readLine()).trimmed();
}

inline PacketFields Reading(std::array<std::uint8_t, 5> digits, std::uint8_t function,
                            std::uint8_t range, std::uint8_t option3 = 10,
                            std::uint8_t status = 0) {
    return MakePacketFields(range, digits, function, status, option3);
}
