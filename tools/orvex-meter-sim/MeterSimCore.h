#pragma once
// The virtual meter's parts: the measuring scenario, the byte faults, the line
// pacing and the pseudo-terminal.  Shared by orvex-meter-sim, the tests and the
// benchmarks.

#include "protocol/PacketEncoder.h"

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace orvex::sim {

// The meter's line: 19200 bit/s, 10 bit times a character (start, 7 data,
// parity, stop), 14 bytes a packet: about 137 packets a second at most.
inline constexpr double kLineBitsPerSecond = 19200.0;
inline constexpr double kBitsPerCharacter = 10.0;
inline constexpr int kPacketBytes = 14;
inline constexpr double kMaxPacketsPerSecond =
    kLineBitsPerSecond / kBitsPerCharacter / static_cast<double>(kPacketBytes);
// What a real meter sends when left alone.
inline constexpr double kDefaultPacketsPerSecond = 2.0;

// Flag values of the packet's status and option nibbles.
inline constexpr std::uint8_t kStatusDuty = 8, kStatusMinus = 4, kStatusBattery = 2,
                              kStatusOverload = 1;
inline constexpr std::uint8_t kOption1Relative = 2;
inline constexpr std::uint8_t kOption2DutyOverload = 8;
inline constexpr std::uint8_t kOption3Dc = 8, kOption3Ac = 4, kOption3Auto = 2;
inline constexpr std::uint8_t kOption4Hold = 2;

// One stretch of the scenario: a measuring function in one range, a reading
// around baseCounts with noise and drift, for a number of packets.
struct ScenarioSegment {
    std::string label;
    PacketFields fields;    // everything but the digits and the minus flag
    int baseCounts = 0;     // signed reading without decimal point
    double noiseCounts = 0; // standard deviation of the noise
    double driftCounts = 0; // added per packet
    int packets = 6;
    bool frozen = false; // hold: the same reading every packet
};

// The reading put into the digit nibbles (five digits, leading zeros) and the
// minus flag; magnitudes above 99999 are clamped.
PacketFields WithCounts(PacketFields fields, int counts);

// Cycles through every function of the meter: DC/AC volts and mV, ohms,
// continuity, diode, capacitance, frequency, temperature, duty, uA, mA, A,
// with range changes, overload, hold, relative, low battery and negative
// readings.  Deterministic for a seed.
class TMeterScenario {
  public:
    explicit TMeterScenario(std::uint32_t seed = 1);

    static const std::vector<ScenarioSegment>& Segments();
    // Packets in one pass through all segments.
    static int PacketsPerCycle();

    // The next packet's fields (goes on for ever, cycle after cycle).
    PacketFields Next();
    // The segment of the packet last returned by Next().
    const ScenarioSegment& CurrentSegment() const;

  private:
    std::mt19937 rng_;
    std::size_t segment_ = 0;
    int packetInSegment_ = -1;
    int lastCounts_ = 0;
};

// Drops, duplicates or flips (one random bit) each byte with the given
// probability (split evenly between the three kinds).
class TFaultInjector {
  public:
    TFaultInjector(double probability, std::uint32_t seed = 7);
    // Appends the possibly damaged bytes to out.
    void Apply(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out);

    std::uint64_t dropped = 0;
    std::uint64_t duplicated = 0;
    std::uint64_t flipped = 0;

  private:
    double probability_;
    std::mt19937 rng_;
};

// Absolute-deadline pacing on the monotonic clock.  A rate of 0 or less does
// not wait.
class TPacer {
  public:
    explicit TPacer(double eventsPerSecond);
    // Sleeps until the next event is due; false when a signal interrupted the
    // wait and stop is set.
    bool WaitNext(const volatile int* stop);

  private:
    double periodNs_;
    long long nextNs_ = 0;
};

// The meter's end of a pseudo-terminal, raw, with the other end's path.  The
// meter side also holds the device end open so that the line stays up between
// a receiver's connections (as a real port does).
class TMeterPty {
  public:
    TMeterPty() = default;
    ~TMeterPty();
    TMeterPty(const TMeterPty&) = delete;
    TMeterPty& operator=(const TMeterPty&) = delete;

    // False with a message when the system refuses.
    bool Open(std::string* error);
    void Close();

    int masterFd() const { return master_; }
    const std::string& devicePath() const { return path_; }

    // Writes all bytes unless the receiver's queue stays full (nobody reads):
    // then the rest is dropped, as a line drops what nobody listens to.
    // Returns the number of bytes written.
    std::size_t Write(const std::uint8_t* data, std::size_t size);
    // Reads and discards anything the other side sent.
    void DrainInput();
    // Closing the meter's end hangs the line up, and the kernel then throws
    // away whatever the receiver has not read yet.  After the last packet the
    // meter therefore waits (at most maxMs) until the receiver has taken it.
    void WaitUntilTaken(int maxMs);

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// The USB adapter cable's input reports: 8 bytes each (no report ID), the
// first byte the count of meter bytes that follow (1 to 7), the rest zero.
inline constexpr int kCableReportSize = 8;
// The reports that carry `bytes` in arrival order, followed by one report
// without meter bytes (count 0), which ends the packet for the receiver.
std::vector<std::vector<std::uint8_t>> CableReports(const std::uint8_t* bytes, std::size_t size,
                                                    bool endWithIdle = true);

// The whole content of a raw capture file; false with a message on failure.
bool ReadCaptureFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error);

} // namespace orvex::sim
