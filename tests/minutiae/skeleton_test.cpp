#include "minutiae/skeleton.h"

#include <gtest/gtest.h>

#include "canvas.h"

namespace orvane::test {
namespace {

constexpr int32_t kRingDx[8] = {-1, 0, 1, 1, 1, 0, -1, -1};
constexpr int32_t kRingDy[8] = {1, 1, 1, 0, -1, -1, -1, 0};

Canvas ringCanvas(std::initializer_list<int> positions) {
    Canvas c(7, 7);
    c.ridge(3, 3);
    for (int p : positions) c.ridge(3 + kRingDx[p], 3 + kRingDy[p]);
    return c;
}

TEST(CrossingSum, CountsRunsOfRidgeNeighbours) {
    struct Case {
        std::initializer_list<int> positions;
        int32_t sum;
    } cases[] = {
        {{}, 0},         {{1}, 510},           {{0, 1, 2, 3, 4, 5, 6}, 510}, {{1, 4, 6}, 1530},
        {{0, 1, 2, 3, 4, 5, 6, 7}, 0}, {{1, 5}, 1020}, {{0, 2, 4, 6}, 2040},   {{7, 0}, 510},
    };
    for (const auto& k : cases) {
        Canvas c = ringCanvas(k.positions);
        const int32_t p = c.at(3, 3);
        EXPECT_EQ(crossingSum(c.w(), p), k.sum) << k.positions.size();
        EXPECT_EQ(isEndingPixel(c.w(), p), k.sum == 510);
        EXPECT_EQ(isBifurcationPixel(c.w(), p), k.sum == 1530);
    }
}

TEST(NextRidgePixel, ContinuesOnlyWhenUnique) {
    Canvas c(12, 7);
    c.line(1, 3, 1, 0, 6);  // (1,3)..(6,3)
    int32_t next = -7;
    EXPECT_EQ(nextRidgePixel(c.w(), c.at(3, 3), c.at(2, 3), next), 0);
    EXPECT_EQ(next, c.at(4, 3));
    next = -7;
    EXPECT_EQ(nextRidgePixel(c.w(), c.at(6, 3), c.at(5, 3), next), 1);
    EXPECT_EQ(next, -7);
    // The previous pixel is excluded by index, whatever its value.
    EXPECT_EQ(nextRidgePixel(c.w(), c.at(6, 3), c.at(7, 3), next), 0);
    EXPECT_EQ(next, c.at(5, 3));
    // Two onward neighbours.
    c.ridge(7, 2);
    c.ridge(7, 4);
    EXPECT_EQ(nextRidgePixel(c.w(), c.at(6, 3), c.at(5, 3), next), 1);
}

TEST(TraceRidge, WorkedExamples) {
    Canvas c(40, 12);
    int32_t end = -7;
    c.line(2, 2, 1, 0, 4);  // 4 pixels: three advances reach the other end
    EXPECT_EQ(traceRidge(c.w(), c.at(2, 2), 8, end), 0);
    EXPECT_EQ(end, c.at(5, 2));
    EXPECT_EQ(traceRidge(c.w(), c.at(2, 2), 0, end), 0);
    EXPECT_EQ(end, c.at(3, 2));

    c.line(2, 5, 1, 0, 20);  // 20 pixels: stops 9 steps from the start
    EXPECT_EQ(traceRidge(c.w(), c.at(2, 5), 8, end), 0);
    EXPECT_EQ(end, c.at(11, 5));

    // An end pixel whose only neighbour is a bifurcation pixel: the start.
    c.ridge(24, 8);          // the junction
    c.line(25, 7, 1, -1, 4); // branch up and right
    c.line(23, 7, -1, -1, 4); // branch up and left
    c.ridge(24, 9);          // the end pixel below the junction
    EXPECT_TRUE(isBifurcationPixel(c.w(), c.at(24, 8)));
    EXPECT_EQ(traceRidge(c.w(), c.at(24, 9), 8, end), 0);
    EXPECT_EQ(end, c.at(24, 9));
    // Walking into the junction from a branch end stops just before it.
    EXPECT_EQ(traceRidge(c.w(), c.at(28, 4), 8, end), 0);
    EXPECT_EQ(end, c.at(25, 7));

    // Two adjacent ridge neighbours: an ending by the crossing test, but no
    // trace.
    Canvas d = ringCanvas({0, 1});
    EXPECT_TRUE(isEndingPixel(d.w(), d.at(3, 3)));
    end = -7;
    EXPECT_EQ(traceRidge(d.w(), d.at(3, 3), 8, end), 1);
    EXPECT_EQ(end, -7);
}

TEST(PixelXY, SplitTheIndex) {
    Canvas c(37, 20);
    EXPECT_EQ(pixelX(c.w(), c.at(36, 19)), 36);
    EXPECT_EQ(pixelY(c.w(), c.at(36, 19)), 19);
    EXPECT_EQ(pixelX(c.w(), 0), 0);
}

TEST(PointDirection, WorkedValues) {
    struct Case {
        int32_t dx, dy, degrees;
    } cases[] = {{1, 0, 0},   {0, 1, 90},  {-1, 0, 180}, {0, -1, 270},  {1, 1, 45},
                 {3, -4, 307}, {16, -1, 356}, {0, 0, 0},   {-16, 16, 135}, {16, 16, 45}};
    for (const auto& k : cases) EXPECT_EQ(pointDirection(5, 7, 5 + k.dx, 7 + k.dy), k.degrees) << k.dx << "," << k.dy;
    // Every short vector stays below 360.
    for (int32_t dy = -16; dy <= 16; ++dy)
        for (int32_t dx = -16; dx <= 16; ++dx) EXPECT_LT(pointDirection(0, 0, dx, dy), 360);
    // A vector just under the x axis wraps to 360.
    EXPECT_EQ(pointDirection(0, 0, 1000, -1), 360);
}

}  // namespace
}  // namespace orvane::test
