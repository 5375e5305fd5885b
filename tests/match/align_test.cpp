#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>

#include "match/align.h"
#include "reference_matcher.h"
#include "support/synthetic_sets.h"

namespace orvane {
namespace {

Minutia at(int32_t x, int32_t y, int32_t direction) {
    Minutia m{};
    m.x = x;
    m.y = y;
    m.direction = direction;
    m.ringOrientation[0] = 10;
    m.ringOrientation[1] = 20;
    m.ringOrientation[2] = 255;
    m.kind = 2;
    return m;
}

MinutiaSet fourAround100() {
    MinutiaSet s{};
    s.count = 4;
    s.minutiae[0] = at(100, 100, 10);
    s.minutiae[1] = at(110, 100, 0);
    s.minutiae[2] = at(100, 110, 45);
    s.minutiae[3] = at(90, 95, 300);
    return s;
}

struct Expected {
    int32_t x, y, direction;
};

TEST(AlignMinutiaSet, TurnsAboutTheCentreAndShifts) {
    const MinutiaSet source = fourAround100();
    struct Case {
        int32_t shiftX, shiftY;
        Expected e[4];
    } cases[] = {
        {0, 0, {{100, 100, 100}, {100, 110, 90}, {90, 100, 135}, {105, 90, 30}}},
        {5, -3, {{105, 97, 100}, {105, 107, 90}, {95, 97, 135}, {110, 87, 30}}},
    };
    for (const Case& c : cases) {
        MinutiaSet out;
        alignMinutiaSet(source, out, source.minutiae[0], 90, c.shiftX, c.shiftY);
        ASSERT_EQ(out.count, 4);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(out.minutiae[i].x, c.e[i].x) << i;
            EXPECT_EQ(out.minutiae[i].y, c.e[i].y) << i;
            EXPECT_EQ(out.minutiae[i].direction, c.e[i].direction) << i;
            EXPECT_EQ(out.minutiae[i].kind, 2);
            EXPECT_EQ(out.minutiae[i].ringOrientation[2], 255);
        }
    }
}

TEST(AlignMinutiaSet, NegativeResultsRoundByAddingOneHalfAndCutting) {
    MinutiaSet s{};
    s.count = 3;
    s.minutiae[0] = at(2, 2, 0);
    s.minutiae[1] = at(5, 2, 0);
    s.minutiae[2] = at(6, 2, 0);
    MinutiaSet out;
    alignMinutiaSet(s, out, s.minutiae[0], 180, 0, 0);
    EXPECT_EQ(out.minutiae[0].x, 2);
    EXPECT_EQ(out.minutiae[1].x, 0);   // -1.0 becomes 0
    EXPECT_EQ(out.minutiae[2].x, -1);  // -2.0 becomes -1
    EXPECT_EQ(out.minutiae[2].y, 2);
    EXPECT_EQ(out.minutiae[2].direction, 180);
}

TEST(AlignMinutiaSet, CopiesRecordsBeyondTheCountAndKeepsTheCentreOnTarget) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 200; ++trial) {
        MinutiaSet s = synthetic::randomSet(rng, synthetic::uniform(rng, 1, 59), 0, 0, 640, 480);
        // Garbage beyond the count must come through byte for byte.
        s.minutiae[s.count] = at(-7, 12345, 999);
        const int32_t rotation = synthetic::uniform(rng, 0, 359);
        const int32_t centre = synthetic::uniform(rng, 0, s.count - 1);
        const int32_t sx = synthetic::uniform(rng, -300, 300), sy = synthetic::uniform(rng, -300, 300);
        MinutiaSet out;
        alignMinutiaSet(s, out, s.minutiae[centre], rotation, sx, sy);
        EXPECT_EQ(std::memcmp(&out.minutiae[s.count], &s.minutiae[s.count],
                              sizeof(Minutia) * static_cast<size_t>(kMaxMinutiae - s.count)),
                  0);
        // Add one half and cut: a negative target comes out one higher.
        const int32_t tx = s.minutiae[centre].x + sx, ty = s.minutiae[centre].y + sy;
        EXPECT_EQ(out.minutiae[centre].x, tx >= 0 ? tx : tx + 1);
        EXPECT_EQ(out.minutiae[centre].y, ty >= 0 ? ty : ty + 1);
        EXPECT_EQ(out.minutiae[centre].direction, (s.minutiae[centre].direction + rotation) % 360);
        if (rotation == 0 && sx == 0 && sy == 0) {
            EXPECT_EQ(std::memcmp(&out, &s, sizeof s), 0);
        }
    }
    MinutiaSet s = synthetic::randomSet(rng, 30, 0, 0, 640, 480);
    MinutiaSet out;
    alignMinutiaSet(s, out, s.minutiae[3], 0, 0, 0);
    EXPECT_EQ(std::memcmp(&out, &s, sizeof s), 0);
}

TEST(AlignMinutiaSet, EqualsTheTranscriptionForEveryTurn) {
    std::mt19937 rng(11);
    for (int32_t rotation = 0; rotation < 360; ++rotation) {
        for (int trial = 0; trial < 8; ++trial) {
            const MinutiaSet s = synthetic::randomSet(rng, 60, 0, 0, 1024, 1024);
            const Minutia& centre = s.minutiae[synthetic::uniform(rng, 0, 59)];
            const int32_t sx = synthetic::uniform(rng, -1023, 1023), sy = synthetic::uniform(rng, -1023, 1023);
            MinutiaSet fast, slow;
            alignMinutiaSet(s, fast, centre, rotation, sx, sy);
            reference::alignSet(s, slow, centre, rotation, sx, sy);
            ASSERT_EQ(std::memcmp(&fast, &slow, sizeof fast), 0) << rotation;
        }
    }
}

TEST(AlignMinutiaSet, ExtremeValuesStayDefined) {
    MinutiaSet s{};
    s.count = 3;
    s.minutiae[0] = at(INT_MAX, INT_MIN, INT_MAX);
    s.minutiae[1] = at(INT_MIN, INT_MAX, INT_MIN);
    s.minutiae[2] = at(0, 0, -1);
    MinutiaSet out;
    alignMinutiaSet(s, out, s.minutiae[1], INT_MAX, INT_MAX, INT_MIN);
    for (int i = 0; i < 3; ++i) {
        EXPECT_GE(out.minutiae[i].direction, 0);
        EXPECT_LT(out.minutiae[i].direction, 360);
    }
    s.count = 1000;  // a foreign count is limited to the 60 records
    alignMinutiaSet(s, out, s.minutiae[2], -90, 0, 0);
    EXPECT_EQ(out.minutiae[2].direction, 269);
}

}  // namespace
}  // namespace orvane
