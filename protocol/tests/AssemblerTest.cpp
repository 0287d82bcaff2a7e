#include "protocol/MeterReading.h"
#include "protocol/PacketAssembler.h"
#include "protocol/PacketEncoder.h"

#include "protocol/tests/QtPrinters.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <vector>

using namespace orvex;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Records what the assembler reports.
struct Recorder {
    QStringList cuts;
    QStringList frames;
    void attach(TPacketAssembler& a) {
        a.onCut = [this](const QString& f) { cuts << f; };
        a.onFrame = [this](const QString& f) { frames << f; };
    }
};

void Feed(TPacketAssembler& a, const Bytes& bytes, std::size_t from, std::size_t to) {
    a.OrvexDATA(bytes.data() + from, static_cast<int>(to - from));
}

// The cuts of a stream by the plain, unbounded rule: low digit of every byte,
// cut at 0x0D, first 14 characters, accepted when they start with A and end with D.
QStringList ReferenceCuts(const Bytes& bytes, QStringList* accepted) {
    QStringList cuts;
    QString acc;
    for (std::uint8_t b : bytes) {
        const QString hex = QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
        if (hex != "0D") {
            acc += hex.at(1);
            continue;
        }
        acc += u'D';
        const QString frame = acc.left(14);
        cuts << frame;
        if (frame.left(1) + frame.mid(13, 1) == "AD") *accepted << frame;
        acc.clear();
    }
    return cuts;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Pkt(const PacketFields& f, std::uint8_t high = 0x3) {
    const Packet p = EncodePacket(f, high);
    return Bytes(p.begin(), p.end());
}

PacketFields Fields(std::uint8_t range, std::array<std::uint8_t, 5> digits, std::uint8_t function,
                    std::uint8_t status = 0, std::uint8_t option3 = 0xA) {
    return MakePacketFields(range, digits, function, status, option3);
}

const Bytes kWorked{0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x3B, 0x30, 0x30, 0x30, 0x3A, 0x30, 0x0D};

// A stream with a partial start, several packets, a lost byte, an extra byte,
// a terminator-like 0x8D and some noise.
Bytes MixedStream() {
    Bytes s = {0x33, 0x34, 0x35, 0x3B, 0x30, 0x30, 0x30, 0x3A, 0x30, 0x0D, 0x0A};
    s = Join({s, Pkt(Fields(0, {1, 2, 3, 4, 5}, 11)), Pkt(Fields(3, {0, 0, 1, 2, 3}, 3)),
              Pkt(Fields(1, {0, 0, 0, 0, 0}, 11, 1))});
    Bytes lost = Pkt(Fields(2, {9, 8, 7, 6, 5}, 6));
    lost.erase(lost.begin() + 4);
    Bytes extra = Pkt(Fields(2, {4, 4, 4, 4, 4}, 9));
    extra.insert(extra.begin() + 2, 0x37);
    Bytes noise = {0x8D, 0xFF, 0x00, 0x0A, 0x0A, 0x0D, 0x0A};
    return Join({s, lost, extra, noise, Pkt(Fields(5, {1, 0, 0, 0, 0}, 2, 0, 0)),
                 Pkt(Fields(0xA, {1, 2, 3, 4, 5}, 11))});
}

} // namespace

TEST(Assembler, WorkedExampleIsAcceptedOnce) {
    TPacketAssembler a;
    Recorder rec;
    rec.attach(a);
    const Bytes stream = Join({{0x0A}, kWorked, {0x0A}});
    Feed(a, stream, 0, stream.size());
    EXPECT_EQ(rec.frames, QStringList{"A012345B000A0D"});
    EXPECT_EQ(rec.cuts, QStringList{"A012345B000A0D"});
    EXPECT_EQ(a.frameText(), "A012345B000A0D");
    EXPECT_EQ(a.lowNibbleText(), "A"); // the line feed starts the next accumulation
}

TEST(Assembler, CutsThatFailTheFrameCheck) {
    struct Case {
        const char* name;
        Bytes stream;
        const char* cut;
        bool accepted;
    };
    Bytes lost = Join({{0x0A}, kWorked});
    lost.erase(lost.begin() + 3);
    Bytes extra = Join({{0x0A}, kWorked});
    extra.insert(extra.begin() + 5, 0x36);
    Bytes extraD = Join({{0x0A}, kWorked});
    extraD[12] = 0x3D;
    extraD.insert(extraD.begin() + 2, 0x37); // now the 13th data digit is D: passes by chance
    const Case cases[] = {
        {"mid-packet start", Bytes(kWorked.begin() + 0, kWorked.end()), "012345B000A0D", false},
        {"lost byte", lost, "A01345B000A0D", false},
        {"extra byte", extra, "A0123645B000A0", false},
        {"extra byte D", extraD, "A0712345B000AD", true},
        {"bare terminator", {0x0D}, "D", false},
        {"no line feed but 14", Join({{0x3A}, kWorked}), "A012345B000A0D", true},
        {"8D is no terminator",
         Join({{0x0A}, Bytes(kWorked.begin(), kWorked.end() - 2), {0x8D, 0x0D}}), "A012345B000ADD",
         true},
    };
    for (const Case& c : cases) {
        TPacketAssembler a;
        Recorder rec;
        rec.attach(a);
        Feed(a, c.stream, 0, c.stream.size());
        EXPECT_EQ(rec.cuts, QStringList{c.cut}) << c.name;
        EXPECT_EQ(rec.frames.size(), c.accepted ? 1 : 0) << c.name;
        EXPECT_EQ(a.frameText(), c.cut) << c.name;
        EXPECT_TRUE(a.lowNibbleText().isEmpty()) << c.name;
    }
}

TEST(Assembler, HighDigitIsIgnored) {
    TPacketAssembler a;
    Recorder rec;
    rec.attach(a);
    const Bytes s = {0x0A, 0x30, 0x01, 0xF2, 0x83, 0x44, 0x55,
                     0x0B, 0x30, 0xC0, 0x30, 0x9A, 0x70, 0x0D};
    Feed(a, s, 0, s.size());
    EXPECT_EQ(rec.frames, QStringList{"A012345B000A0D"});
}

TEST(Assembler, NonPositiveCountDoesNothing) {
    TPacketAssembler a;
    Recorder rec;
    rec.attach(a);
    const std::uint8_t cr = 0x0D;
    a.OrvexDATA(&cr, 0);
    a.OrvexDATA(&cr, -5);
    a.OrvexDATA(nullptr, 3);
    EXPECT_TRUE(rec.cuts.isEmpty());
    EXPECT_TRUE(a.lowNibbleText().isEmpty());
}

TEST(Assembler, FrameIsHandledBeforeTheNextByte) {
    TPacketAssembler a;
    QStringList seen;
    a.onFrame = [&](const QString& f) {
        EXPECT_EQ(a.frameText(), f);
        EXPECT_TRUE(a.lowNibbleText().isEmpty());
        seen << f;
    };
    const Bytes s = Join({{0x0A},
                          Pkt(Fields(0, {1, 1, 1, 1, 1}, 11)),
                          Pkt(Fields(0, {2, 2, 2, 2, 2}, 11)),
                          Pkt(Fields(0, {3, 3, 3, 3, 3}, 11))});
    Feed(a, s, 0, s.size());
    EXPECT_EQ(seen, (QStringList{"A011111B000A0D", "A022222B000A0D", "A033333B000A0D"}));
}

TEST(Assembler, UndecodableOrThrowingHandlerDoesNotStopTheStream) {
    TPacketAssembler a;
    QStringList values;
    QStringList errors;
    a.onFrame = [&](const QString& f) {
        const DecodeResult res = DecodeFrame(f, ".", 22000, 22);
        if (!res.ok) {
            errors << f;
            throw std::runtime_error("handler failed");
        }
        values << res.reading.valueText;
    };
    const Bytes bad = Join({{0x0A}, Pkt(Fields(0xA, {1, 2, 3, 4, 5}, 11))});
    EXPECT_THROW(Feed(a, bad, 0, bad.size()), std::runtime_error);
    EXPECT_TRUE(a.lowNibbleText().isEmpty());
    const Bytes good = Join({{0x0A}, Pkt(Fields(0, {1, 2, 3, 4, 5}, 11))});
    Feed(a, good, 0, good.size());
    EXPECT_EQ(errors, QStringList{"AA12345B000A0D"});
    EXPECT_EQ(values, QStringList{"1.2345"});
}

TEST(Assembler, StreamCutAtEveryPositionGivesTheSameFrames) {
    const Bytes stream = MixedStream();
    QStringList refAccepted;
    const QStringList refCuts = ReferenceCuts(stream, &refAccepted);
    ASSERT_GE(refAccepted.size(), 4);

    for (std::size_t cut1 = 0; cut1 <= stream.size(); ++cut1) {
        for (std::size_t cut2 = cut1; cut2 <= stream.size(); cut2 += 7) {
            TPacketAssembler a;
            Recorder rec;
            rec.attach(a);
            Feed(a, stream, 0, cut1);
            Feed(a, stream, cut1, cut2);
            Feed(a, stream, cut2, stream.size());
            ASSERT_EQ(rec.cuts, refCuts) << "cuts at " << cut1 << ", " << cut2;
            ASSERT_EQ(rec.frames, refAccepted) << "cuts at " << cut1 << ", " << cut2;
        }
    }
    // One byte at a time.
    TPacketAssembler a;
    Recorder rec;
    rec.attach(a);
    for (std::size_t i = 0; i < stream.size(); ++i)
        Feed(a, stream, i, i + 1);
    EXPECT_EQ(rec.frames, refAccepted);
}

TEST(Assembler, RandomRunsGiveTheSameFrames) {
    std::mt19937 rng(4711);
    Bytes stream;
    for (int i = 0; i < 300; ++i) {
        PacketFields f =
            Fields(rng() % 10,
                   {std::uint8_t(rng() % 10), std::uint8_t(rng() % 10), std::uint8_t(rng() % 10),
                    std::uint8_t(rng() % 10), std::uint8_t(rng() % 10)},
                   rng() % 16, rng() % 16, rng() % 16);
        Bytes p = Pkt(f, static_cast<std::uint8_t>(rng() % 16 == 0 ? 0xB : 0x3));
        if (rng() % 20 == 0) p.erase(p.begin() + static_cast<long>(rng() % 12)); // lost byte
        if (rng() % 30 == 0) p.insert(p.begin(), static_cast<std::uint8_t>(rng() % 256));
        stream.insert(stream.end(), p.begin(), p.end());
    }
    QStringList refAccepted;
    const QStringList refCuts = ReferenceCuts(stream, &refAccepted);
    for (int trial = 0; trial < 50; ++trial) {
        TPacketAssembler a;
        Recorder rec;
        rec.attach(a);
        std::size_t pos = 0;
        while (pos < stream.size()) {
            const std::size_t n = std::min<std::size_t>(stream.size() - pos, rng() % 40);
            Feed(a, stream, pos, pos + n);
            pos += n;
        }
        ASSERT_EQ(rec.cuts, refCuts) << "trial " << trial;
        ASSERT_EQ(rec.frames, refAccepted) << "trial " << trial;
    }
}

TEST(Assembler, AccumulationIsCappedWithoutChangingFrames) {
    // A wrong line speed: no carriage return for a long time, then the meter again.
    std::mt19937 rng(99);
    Bytes garbage;
    for (int i = 0; i < 3 * TPacketAssembler::kMaxLowNibbleText; ++i) {
        std::uint8_t b = static_cast<std::uint8_t>(rng() % 256);
        garbage.push_back(b == 0x0D ? 0x0A : b);
    }
    garbage[0] = 0x0A;
    garbage[13] = 0x8D; // the overlong cut happens to look like a frame
    const Bytes stream = Join({garbage, {0x0D, 0x0A}, kWorked, {0x0A}});

    TPacketAssembler a;
    Recorder rec;
    rec.attach(a);
    Feed(a, stream, 0, garbage.size());
    EXPECT_EQ(a.lowNibbleText().size(), TPacketAssembler::kMaxLowNibbleText);
    Feed(a, stream, garbage.size(), stream.size());

    QStringList refAccepted;
    EXPECT_EQ(rec.cuts, ReferenceCuts(stream, &refAccepted));
    EXPECT_EQ(rec.frames, refAccepted);
    EXPECT_EQ(rec.frames.last(), "A012345B000A0D");
}
