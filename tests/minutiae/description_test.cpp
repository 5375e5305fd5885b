#include "minutiae/description.h"

#include <gtest/gtest.h>

#include "canvas.h"
#include "minutiae/skeleton.h"

namespace orvane::test {
namespace {

TEST(FlipToward, ChoosesTheOrientationWithinNinetyDegrees) {
    struct Case {
        int32_t orientation, reference, direction;
    } cases[] = {{0, 0, 0}, {0, 180, 180}, {90, 270, 270}, {90, 90, 90}, {90, 0, 90}, {0, 90, 0}, {179, 0, 359},
                 {10, 280, 10}, {10, 279, 190}};
    for (const auto& k : cases)
        EXPECT_EQ(flipToward(k.orientation, k.reference), k.direction) << k.orientation << " " << k.reference;
}

TEST(SampleRingOrientations, OffsetsForTheFourAxes) {
    struct Case {
        int32_t direction;
        int32_t offsets[3][2];
    } cases[] = {
        {0, {{11, 11}, {-14, 4}, {4, -14}}},
        {90, {{-10, 11}, {-3, -14}, {15, 4}}},
        {180, {{-10, -10}, {15, -3}, {-3, 15}}},
        {270, {{11, -10}, {4, 15}, {-14, -3}}},
    };
    for (const auto& k : cases) {
        Canvas c(80, 80, 7);
        for (int i = 0; i < 3; ++i) c.ws->orientationPlane[c.at(40 + k.offsets[i][0], 40 + k.offsets[i][1])] = 100 + i;
        Minutia m{};
        m.x = 40;
        m.y = 40;
        m.direction = k.direction;
        sampleRingOrientations(c.w(), m);
        EXPECT_EQ(m.ringOrientation[0], 100) << k.direction;
        EXPECT_EQ(m.ringOrientation[1], 101) << k.direction;
        EXPECT_EQ(m.ringOrientation[2], 102) << k.direction;
    }
}

TEST(DescribeEnding, DirectionFollowsTheRidge) {
    struct Case {
        int32_t dx, dy;
        uint8_t orientation;
        int32_t direction;
    } cases[] = {{1, 0, 0, 0}, {-1, 0, 0, 180}, {0, -1, 90, 270}, {0, 1, 90, 90}};
    for (const auto& k : cases) {
        Canvas c(80, 80, k.orientation);
        c.line(40, 40, k.dx, k.dy, 15);
        Minutia m{};
        ASSERT_TRUE(describeEnding(c.w(), 40, 40, m));
        EXPECT_EQ(m.x, 40);
        EXPECT_EQ(m.y, 40);
        EXPECT_EQ(m.direction, k.direction) << k.dx << "," << k.dy;
        EXPECT_EQ(m.kind, kEnding);
        EXPECT_EQ(m.ringOrientation[0], k.orientation);
    }
    // Two adjacent ridge neighbours: no record.
    Canvas c(80, 80);
    c.line(40, 40, 1, 0, 10);
    c.ridge(41, 41);
    Minutia m{};
    EXPECT_FALSE(describeEnding(c.w(), 40, 40, m));
}

TEST(DescribeBifurcation, YForkPointsBetweenTheBranches) {
    Canvas c(80, 80, 0);
    c.line(30, 40, 1, 0, 11);   // stem (30..40, 40), toward decreasing x
    c.line(41, 39, 1, -1, 9);   // upper branch from the junction (40,40)
    c.line(41, 41, 1, 1, 9);    // lower branch
    ASSERT_TRUE(isBifurcationPixel(c.w(), c.at(40, 40)));
    const auto before = c.image();
    Minutia m{};
    ASSERT_TRUE(describeBifurcation(c.w(), 40, 40, m));
    EXPECT_EQ(m.direction, 0);
    EXPECT_EQ(m.kind, kBifurcation);
    EXPECT_EQ(c.image(), before);

    // Flipped: stem toward increasing x.
    Canvas d(80, 80, 0);
    d.line(40, 40, 1, 0, 11);
    d.line(39, 39, -1, -1, 9);
    d.line(39, 41, -1, 1, 9);
    ASSERT_TRUE(describeBifurcation(d.w(), 40, 40, m));
    EXPECT_EQ(m.direction, 180);
}

TEST(DescribeBifurcation, NoRecordWithoutThreeTraceableBranches) {
    // Four ridge neighbours, two of them adjacent: crossing sum 1530 still.
    Canvas c(80, 80);
    c.line(30, 40, 1, 0, 21);
    c.line(40, 41, 0, 1, 10);
    c.line(41, 41, 1, 1, 5);
    const auto before = c.image();
    Minutia m{};
    BranchStarts branches;
    EXPECT_EQ(cutJunction(c.w(), 40, 40, branches), 4);
    restoreJunction(c.w(), 40, 40, branches);
    EXPECT_EQ(c.image(), before);
    EXPECT_FALSE(describeBifurcation(c.w(), 40, 40, m));
    EXPECT_EQ(c.image(), before);

    // Three branches, one of which splits right away: its trace fails.
    Canvas d(80, 80);
    d.line(30, 40, 1, 0, 11);
    d.line(40, 41, 0, 1, 10);
    d.ridge(41, 39);
    d.line(42, 38, 1, -1, 5);
    d.line(42, 39, 1, 0, 5);
    const auto beforeD = d.image();
    EXPECT_FALSE(describeBifurcation(d.w(), 40, 40, m));
    EXPECT_EQ(d.image(), beforeD);
}

TEST(ClosestBranchPair, TiesFallToTheFirstPair) {
    EXPECT_EQ(closestBranchPair(8, 5, 5), 0);  // d12 = d02 below d01
    EXPECT_EQ(closestBranchPair(5, 5, 5), 0);
    EXPECT_EQ(closestBranchPair(8, 5, 6), 1);
    EXPECT_EQ(closestBranchPair(8, 6, 5), 2);
    EXPECT_EQ(closestBranchPair(4, 5, 6), 0);
}

}  // namespace
}  // namespace orvane::test
