#pragma once
// The main window's shared state: one object per subsystem, each the owner of
// its own fields.

#include "chart/ChartCommands.h"
#include "chart/TChartControl.h"
#include "protocol/MeterProfile.h"
#include "protocol/MeterReading.h"
#include "protocol/PacketAssembler.h"
#include "recording/RecordTable.h"
#include "recording/Recorder.h"

#include <QLocale>
#include <QString>

#include <memory>

namespace orvex {

// Packet assembly and decoding.
struct ProtocolState {
    TPacketAssembler assembler; // lowNibbleText, frameText
    MeterReading reading;       // the current reading
    QString decimalSeparator;
    MeasurementTracker measurement; // previousUnitText, previousFunctionText, previousPointIndex
    float setMaxLimit = 0.0f;
    float setMinLimit = 0.0f;
    int decodedFrames = 0;     // accepted frames that were decoded
    int undecodableFrames = 0; // accepted frames that could not be decoded
    QString lastDecodeError;
};

// The record table, the recording gates with their counters and the sampling
// countdown (recordLimit, recordCount, nextRecordNo, lastRecordKey,
// sampleCountdown), and the verdict of the last frame.
struct RecordingState {
    RecordTable cds1;
    bool cds1Open = false; // opened by FormCreate, closed by the quit paths
    TRecorder recorder{&cds1};
    QString verdictText;
};

// The chart pager and the chart's place while it is enlarged.
struct ChartState {
    std::unique_ptr<TChartControl> ChartControl;
    ChartBounds SavedChartBounds;
};

struct AppState {
    ProtocolState protocol;
    RecordingState recording;
    ChartState chart;
    MeterProfile profile;
    QLocale LocaleSettings;
};

} // namespace orvex
