// Behaviour of each enhancement stage on small crafted images.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "core/parameters.h"
#include "enhance/direction_lines.h"
#include "enhance/enhance.h"
#include "enhance/images.h"

namespace orvane {
namespace {

using test::Size;

constexpr double kPi = 3.14159265358979323846;

std::unique_ptr<Workspace> workspaceOf(Size size, uint8_t fill = 0) {
    auto ws = test::makeWorkspace();
    test::setSize(*ws, size);
    std::memset(ws->imagePlane, fill, kPlaneSize);
    return ws;
}

uint8_t& at(uint8_t* plane, const Workspace& ws, int32_t x, int32_t y) { return plane[y * ws.width + x]; }

// --- boxMean and halveImage ---

TEST(BoxMean, ConstantImageStaysConstant) {
    for (auto [radius, sampling] : {std::pair{1, 1}, {12, 2}, {0, 1}, {3, 2}, {5, 1}}) {
        auto ws = workspaceOf({37, 23}, 77);
        boxMean(*ws, ws->imagePlane, ws->scratchPlane, radius, sampling);
        for (int32_t i = 0; i < ws->pixelCount; ++i) ASSERT_EQ(ws->scratchPlane[i], 77) << radius << "/" << sampling;
    }
}

TEST(BoxMean, DividesByTheSamplesInsideAndRoundsDown) {
    auto ws = workspaceOf({6, 5}, 0);
    at(ws->imagePlane, *ws, 0, 0) = 100;  // 4 samples at a corner
    at(ws->imagePlane, *ws, 3, 0) = 60;   // 6 along an edge
    boxMean(*ws, ws->imagePlane, ws->scratchPlane, 1, 1);
    EXPECT_EQ(at(ws->scratchPlane, *ws, 0, 0), 25);
    EXPECT_EQ(at(ws->scratchPlane, *ws, 3, 0), 10);
    EXPECT_EQ(at(ws->scratchPlane, *ws, 3, 1), 6);  // 60 / 9 rounded down

    auto full = workspaceOf({3, 3}, 255);
    at(full->imagePlane, *full, 1, 1) = 254;
    boxMean(*full, full->imagePlane, full->scratchPlane, 1, 1);
    EXPECT_EQ(at(full->scratchPlane, *full, 1, 1), 254);
}

TEST(BoxMean, SamplingTwoUsesEvenOffsetsOnly) {
    // Radius 12, sampling 2: at the corner only offsets 0, 2, ..., 12 inward
    // remain (49 samples); odd offsets are never looked at.
    auto ws = workspaceOf({40, 40}, 0);
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x) at(ws->maskPlane, *ws, x, y) = (x % 2 == 1 || y % 2 == 1) ? 255 : 49;
    at(ws->maskPlane, *ws, 12, 12) = 98;  // one sample of the corner's window
    at(ws->maskPlane, *ws, 14, 0) = 200;  // just outside it
    boxMean(*ws, ws->maskPlane, ws->scratchPlane, kSegmentationRadius, 2);
    EXPECT_EQ(at(ws->scratchPlane, *ws, 0, 0), (48 * 49 + 98) / 49);
    EXPECT_EQ(at(ws->scratchPlane, *ws, 20, 20), (168 * 49 + 98) / 169);  // 169 samples, one of them 98
}

TEST(HalveImage, BorderSamplesAndBinomialInterior) {
    auto ws = workspaceOf({256, 360});
    for (int32_t y = 0; y < 360; ++y)
        for (int32_t x = 0; x < 256; ++x) at(ws->imagePlane, *ws, x, y) = static_cast<uint8_t>((x * 7 + y * 13) % 251);
    halveImage(*ws);
    const uint8_t* half = ws->scratchPlane;
    auto image = [&](int32_t x, int32_t y) { return int32_t(at(ws->imagePlane, *ws, x, y)); };
    for (int32_t v = 1; v < 179; ++v) {
        EXPECT_EQ(half[v * 128], image(0, 2 * v));
        EXPECT_EQ(half[v * 128 + 127], image(255, 2 * v));
    }
    for (int32_t u = 0; u < 128; ++u) {  // the row rule decides the corners
        EXPECT_EQ(half[u], image(2 * u, 0));
        EXPECT_EQ(half[179 * 128 + u], image(2 * u, 359));
    }
    for (int32_t v = 1; v < 179; v += 17) {
        for (int32_t u = 1; u < 127; u += 13) {
            const int32_t x = 2 * u, y = 2 * v;
            const int32_t sum = image(x - 1, y - 1) + 2 * image(x, y - 1) + image(x + 1, y - 1) + 2 * image(x - 1, y) +
                                4 * image(x, y) + 2 * image(x + 1, y) + image(x - 1, y + 1) + 2 * image(x, y + 1) +
                                image(x + 1, y + 1);
            EXPECT_EQ(half[v * 128 + u], sum >> 4);
        }
    }
    EXPECT_EQ(half[128 * 180], 0);  // nothing past the half image
}

TEST(HalveImage, OddSizesAndNarrowImages) {
    // Odd width: the interior reaches the last half column and replaces the
    // point samples there; under 5 pixels there is no interior at all.
    auto odd = workspaceOf({7, 7}, 40);
    at(odd->imagePlane, *odd, 5, 2) = 200;
    halveImage(*odd);  // 3 x 3 half image; half (2, 1) is the average around image (4, 2)
    EXPECT_EQ(odd->scratchPlane[1 * 3 + 2], (40 * 14 + 200 * 2) >> 4);

    auto narrow = workspaceOf({4, 4}, 0);
    for (int32_t i = 0; i < 16; ++i) narrow->imagePlane[i] = static_cast<uint8_t>(i * 10);
    std::memset(narrow->scratchPlane, 9, kPlaneSize);
    halveImage(*narrow);
    const uint8_t expected[4] = {0, 20, 120, 140};  // row samples at the corners
    EXPECT_EQ(0, std::memcmp(narrow->scratchPlane, expected, 4));
    EXPECT_EQ(narrow->scratchPlane[4], 9);

    for (Size size : {Size{1, 9}, Size{9, 1}, Size{1, 1}}) {  // an empty half image is written nowhere
        auto ws = workspaceOf(size, 50);
        std::memset(ws->scratchPlane, 9, kPlaneSize);
        halveImage(*ws);
        EXPECT_EQ(ws->scratchPlane[0], 9);
    }
}

// --- computeOrientationField ---

// A half image H(p, q) = f(a p + b q) of stripes, placed for an image of
// twice its size.
std::unique_ptr<Workspace> stripes(int32_t a, int32_t b) {
    auto ws = workspaceOf({120, 100});
    const int32_t halfWidth = 60, halfHeight = 50;
    for (int32_t q = 0; q < halfHeight; ++q)
        for (int32_t p = 0; p < halfWidth; ++p)
            ws->scratchPlane[q * halfWidth + p] =
                static_cast<uint8_t>(128 + std::lround(90 * std::sin((a * p + b * q) * 2 * kPi / 7)));
    return ws;
}

TEST(OrientationField, StripesInFourDirections) {
    struct Case {
        int32_t a, b, code;
    };
    // Grey changing along x: ridges along the columns (90); along y: along
    // the rows (0); along x - y: ridges on the (1, 1) diagonal (45); along
    // x + y: on the (1, -1) diagonal (135).
    for (Case c : {Case{1, 0, 90}, Case{0, 1, 0}, Case{1, -1, 45}, Case{1, 1, 135}}) {
        auto ws = stripes(c.a, c.b);
        computeOrientationField(*ws, kOrientationRadius);
        for (int32_t y = 0; y < ws->height; y += 3)
            for (int32_t x = 0; x < ws->width; x += 3)
                ASSERT_EQ(at(ws->orientationPlane, *ws, x, y), c.code) << c.a << "," << c.b << " at " << x << "," << y;
        EXPECT_GT(at(ws->maskPlane, *ws, 60, 50), 100);
    }
}

TEST(OrientationField, FlatAndTinyHalfImagesGiveStrengthZeroCode135) {
    for (Size size : {Size{120, 100}, Size{4, 200}, Size{200, 4}, Size{2, 2}}) {
        auto ws = workspaceOf(size);
        std::mt19937 rng(size.width);
        // Flat, or too small for any Sobel sample (fewer than 3 half rows or columns).
        const bool tiny = size.width < 6 || size.height < 6;
        for (int32_t i = 0; i < kPlaneSize / 4; ++i) ws->scratchPlane[i] = tiny ? static_cast<uint8_t>(rng()) : 93;
        computeOrientationField(*ws, kOrientationRadius);
        for (int32_t i = 0; i < ws->pixelCount; ++i) {
            ASSERT_EQ(ws->maskPlane[i], 0);
            ASSERT_EQ(ws->orientationPlane[i], 135);
        }
    }
}

TEST(OrientationField, StrengthIsCappedAt255) {
    auto ws = workspaceOf({40, 40});
    for (int32_t q = 0; q < 20; ++q)
        for (int32_t p = 0; p < 20; ++p) ws->scratchPlane[q * 20 + p] = ((p / 2) % 2) ? 255 : 0;  // |gx| = 1020
    computeOrientationField(*ws, kOrientationRadius);
    EXPECT_EQ(at(ws->maskPlane, *ws, 20, 20), 255);
}

TEST(OrientationField, OddSizesDependOnTheImageAlone) {
    // The same odd-sized image after different earlier contents of the
    // workspace gives the same planes: the last column and row are cleared.
    for (Size size : {Size{101, 77}, Size{100, 77}, Size{101, 76}, Size{1, 1}, Size{3, 5}}) {
        const auto image = test::syntheticPrint(size, 7);
        std::vector<uint8_t> first;
        for (uint32_t seed : {1u, 2u}) {
            auto ws = test::makeWorkspace();
            std::mt19937 rng(seed);
            test::fillPlanesRandomly(*ws, rng);
            test::setSize(*ws, size);
            std::memcpy(ws->imagePlane, image.data(), image.size());
            smoothAndHalve(*ws);
            computeOrientationField(*ws, kOrientationRadius);
            std::vector<uint8_t> planes(ws->maskPlane, ws->maskPlane + ws->pixelCount);
            planes.insert(planes.end(), ws->orientationPlane, ws->orientationPlane + ws->pixelCount);
            if (first.empty()) first = planes;
            EXPECT_EQ(planes, first) << size.width << "x" << size.height;
            if (size.width % 2) {
                EXPECT_EQ(at(ws->orientationPlane, *ws, size.width - 1, 0), 0);
            }
            if (size.height % 2) {
                EXPECT_EQ(at(ws->maskPlane, *ws, 0, size.height - 1), 0);
            }
        }
    }
}

// --- segmentForeground and applyMask ---

TEST(Segmentation, MeanEqualToThresholdIsForeground) {
    for (auto [strength, threshold, foreground] : {std::tuple{35, 35, true}, {34, 35, false}, {32, 32, true}}) {
        auto ws = workspaceOf({50, 40});
        std::memset(ws->maskPlane, strength, kPlaneSize);
        const int32_t result = segmentForeground(*ws, kSegmentationRadius, threshold);
        EXPECT_EQ(result, foreground ? 0 : 1);
        for (int32_t y = 0; y < 40; ++y) {
            for (int32_t x = 0; x < 50; ++x) {
                const bool ring = x == 0 || y == 0 || x == 49 || y == 39;
                ASSERT_EQ(at(ws->maskPlane, *ws, x, y), ring || !foreground ? 255 : 0) << x << "," << y;
                ASSERT_EQ(at(ws->scratchPlane, *ws, x, y), strength);  // the local mean stays behind
            }
        }
    }
}

TEST(Segmentation, ForegroundLimitIsATenthOfTheFrame) {
    // Radius 0 makes the local mean the strength itself. 256 x 360: the
    // limit is 9216 foreground pixels.
    for (auto [strong, expected] : {std::pair{9215, 1}, {9216, 0}, {0, 1}}) {
        auto ws = workspaceOf({256, 360});
        int32_t placed = 0;
        for (int32_t y = 1; y < 359 && placed < strong; ++y)
            for (int32_t x = 1; x < 255 && placed < strong; ++x, ++placed) at(ws->maskPlane, *ws, x, y) = 35;
        EXPECT_EQ(segmentForeground(*ws, 0, kSegmentationThreshold), expected) << strong;
        int32_t count = 0;
        for (int32_t i = 0; i < ws->pixelCount; ++i) count += ws->maskPlane[i] == 0;
        EXPECT_EQ(count, strong);
    }
}

TEST(Segmentation, SmallImagesHaveNoInterior) {
    for (Size size : {Size{2, 9}, Size{9, 2}, Size{1, 1}, Size{3, 3}, Size{4, 3}}) {
        auto ws = workspaceOf(size);
        std::memset(ws->maskPlane, 200, kPlaneSize);
        const int32_t result = segmentForeground(*ws, kSegmentationRadius, kSegmentationThreshold);
        int32_t count = 0;
        for (int32_t i = 0; i < ws->pixelCount; ++i) count += ws->maskPlane[i] == 0;
        EXPECT_EQ(count, (size.width - 2 > 0 ? size.width - 2 : 0) * (size.height - 2 > 0 ? size.height - 2 : 0));
        EXPECT_EQ(result, count < ws->pixelCount / kForegroundShareDivisor ? 1 : 0);
    }
    auto flat = workspaceOf({2, 4});  // pixelCount 8: the limit is 0
    std::memset(flat->maskPlane, 0, kPlaneSize);
    EXPECT_EQ(segmentForeground(*flat, kSegmentationRadius, kSegmentationThreshold), 0);
}

TEST(Segmentation, ApplyMaskWhitensOnlyTheBackground) {
    auto ws = workspaceOf({8, 6}, 17);
    std::memset(ws->orientationPlane, 44, kPlaneSize);
    for (int32_t i = 0; i < 48; ++i) ws->maskPlane[i] = (i % 3 == 0) ? 255 : 0;
    applyMask(*ws);
    for (int32_t i = 0; i < 48; ++i) {
        EXPECT_EQ(ws->imagePlane[i], i % 3 == 0 ? 255 : 17);
        EXPECT_EQ(ws->orientationPlane[i], i % 3 == 0 ? 255 : 44);
    }
    EXPECT_EQ(ws->imagePlane[48], 17);
}

// --- directionIndex, the line table, filtering and binarization ---

TEST(DirectionLines, IndexOfCodes) {
    const std::pair<int32_t, int32_t> cases[] = {{0, 0},   {7, 0},    {8, 1},   {22, 1},  {23, 2},  {90, 6},
                                                 {97, 6},  {98, 7},   {172, 11}, {173, 0}, {179, 0}, {255, 0}};
    for (auto [code, row] : cases) EXPECT_EQ(directionIndex(code), row) << code;
}

TEST(DirectionLines, TableFollowsItsRule) {
    for (int32_t k = 0; k < 12; ++k) {
        for (int32_t i = 0; i < 7; ++i) {
            const int32_t t = i - 3;
            const int32_t base = k <= 6 ? k : 12 - k;
            const double angle = base * 15.0 * kPi / 180.0;
            int32_t dx, dy;
            if (base <= 3) {
                dx = t;
                dy = static_cast<int32_t>(std::lround(t * std::tan(angle)));
            } else {
                dx = static_cast<int32_t>(std::lround(t * std::cos(angle) / std::sin(angle)));
                dy = t;
            }
            if (k > 6) dy = -dy;
            EXPECT_EQ(DirectionLineTable[k][i][0], dx) << k << "/" << i;
            EXPECT_EQ(DirectionLineTable[k][i][1], dy) << k << "/" << i;
        }
    }
}

TEST(RidgeFilter, ConstantImagesAndBinarizationLevels) {
    for (uint8_t value : {0, 3, 4, 100, 255}) {
        auto ws = workspaceOf({30, 20}, value);
        for (int32_t i = 0; i < ws->pixelCount; ++i) ws->orientationPlane[i] = static_cast<uint8_t>((i * 7) % 180);
        filterAlongRidges(*ws);
        for (int32_t i = 0; i < ws->pixelCount; ++i) ASSERT_EQ(ws->imagePlane[i], value);
        binarizeRidges(*ws);
        for (int32_t i = 0; i < ws->pixelCount; ++i) {
            ASSERT_EQ(ws->imagePlane[i], value < kRidgeDarkLevel ? 0 : 255);
            ASSERT_EQ(ws->scratchPlane[i], ws->imagePlane[i]);
        }
    }
}

TEST(RidgeFilter, BorderLinesAreCutAndDividedByTheWeightUsed) {
    auto ws = workspaceOf({10, 10}, 0);
    std::memset(ws->orientationPlane, 0, kPlaneSize);  // row 0 along the ridge, row 6 across
    for (int32_t x = 0; x < 4; ++x) at(ws->imagePlane, *ws, x, 0) = static_cast<uint8_t>(10 * (x + 1));
    at(ws->imagePlane, *ws, 4, 0) = 250;  // outside the corner's line
    filterAlongRidges(*ws);
    // Pass 1 at (0, 0): (10 + 20 + 30 + 40) / 4 = 25, the rows below stay 0.
    // Pass 2 at (0, 0) across (vertical) keeps offsets 3..6, weights
    // 9 3 -1 -3 of sum 8: 9 * 25 / 8.
    EXPECT_EQ(at(ws->imagePlane, *ws, 0, 0), 9 * 25 / 8);
}

TEST(RidgeFilter, SharpeningClampsToTheByteRange) {
    // Codes 0: the across line is vertical. Columns hold the across profile.
    struct Case {
        uint8_t profile[7];
        uint8_t expected;
    };
    for (Case c : {Case{{0, 0, 0, 255, 0, 0, 0}, 255}, Case{{255, 255, 0, 0, 0, 255, 255}, 0}}) {
        auto ws = workspaceOf({20, 20});
        std::memset(ws->orientationPlane, 0, kPlaneSize);
        // Rows constant, so the along-the-row mean of pass 1 keeps them.
        for (int32_t y = 0; y < 20; ++y)
            for (int32_t x = 0; x < 20; ++x)
                at(ws->imagePlane, *ws, x, y) = (y >= 7 && y < 14) ? c.profile[y - 7] : c.profile[y < 7 ? 0 : 6];
        filterAlongRidges(*ws);
        EXPECT_EQ(at(ws->imagePlane, *ws, 10, 10), c.expected);
    }
}

TEST(RidgeFilter, BinarizationComparesAlongAndAcrossMeans) {
    // Code 90: along the column (weights 2 2 3 4 3 2 2), across the row.
    auto ws = workspaceOf({20, 20}, 200);
    std::memset(ws->orientationPlane, 90, kPlaneSize);
    for (int32_t y = 0; y < 20; ++y) at(ws->imagePlane, *ws, 10, y) = 4;  // a dark column
    at(ws->imagePlane, *ws, 15, 10) = 3;                                   // ridge whatever its neighbours
    binarizeRidges(*ws);
    EXPECT_EQ(at(ws->imagePlane, *ws, 10, 10), 0);   // along 4 < across (4 + 6·200) / 7
    EXPECT_EQ(at(ws->imagePlane, *ws, 15, 10), 0);
    EXPECT_EQ(at(ws->imagePlane, *ws, 11, 10), 255);  // along 200, across (4 + 6·200)/7 = 172
    // Below the dark pixel: along (15 * 200 + 3 * 3) / 18 = 167 < across 200.
    EXPECT_EQ(at(ws->imagePlane, *ws, 15, 11), 0);
    EXPECT_EQ(at(ws->imagePlane, *ws, 15, 13), 0);    // (16 * 200 + 2 * 3) / 18 = 178: the end weight
    EXPECT_EQ(at(ws->imagePlane, *ws, 15, 14), 255);  // the dark pixel is outside its line
}

// --- removeBinaryNoise ---

std::unique_ptr<Workspace> ridgeImage(Size size) {
    auto ws = workspaceOf(size, 255);
    std::memset(ws->maskPlane, 0, kPlaneSize);
    return ws;
}

TEST(NoiseRemoval, StrayPixelsFlip) {
    auto ws = ridgeImage({20, 20});
    at(ws->imagePlane, *ws, 5, 5) = 0;  // a lone ridge pixel
    for (int32_t y = 10; y < 17; ++y)
        for (int32_t x = 10; x < 17; ++x) at(ws->imagePlane, *ws, x, y) = 0;
    at(ws->imagePlane, *ws, 13, 13) = 255;  // a hole in a solid ridge
    removeBinaryNoise(*ws);
    EXPECT_EQ(at(ws->imagePlane, *ws, 5, 5), 255);
    EXPECT_EQ(at(ws->imagePlane, *ws, 13, 13), 0);
    EXPECT_EQ(at(ws->imagePlane, *ws, 10, 10), 0);  // a block corner keeps 3 like neighbours
}

TEST(NoiseRemoval, LinesShrinkFromBothEndsUpToThePassLimit) {
    // A one-pixel line loses both ends each pass: L <= 16 vanishes, a longer
    // line ends 8 pixels shorter at each end after the eighth pass.
    for (int32_t length : {1, 2, 5, 16, 17, 30}) {
        for (bool diagonal : {false, true}) {
            auto ws = ridgeImage({40, 40});
            for (int32_t i = 0; i < length; ++i) at(ws->imagePlane, *ws, 4 + i, diagonal ? 4 + i : 20) = 0;
            removeBinaryNoise(*ws);
            int32_t left = 0;
            for (int32_t i = 0; i < ws->pixelCount; ++i) left += ws->imagePlane[i] == 0;
            EXPECT_EQ(left, length <= 16 ? 0 : length - 16) << length << (diagonal ? " diagonal" : "");
            if (length > 16) {
                EXPECT_EQ(at(ws->imagePlane, *ws, 4 + 8, diagonal ? 4 + 8 : 20), 0);
            }
        }
    }
}

TEST(NoiseRemoval, WideLinesAreStableAndTheRingAndBackgroundTurnWhite) {
    auto ws = ridgeImage({30, 30});
    std::memset(ws->imagePlane, 255, kPlaneSize);
    for (int32_t x = 5; x < 25; ++x) at(ws->imagePlane, *ws, x, 10) = at(ws->imagePlane, *ws, x, 11) = 0;
    for (int32_t x = 0; x < 30; ++x) at(ws->imagePlane, *ws, x, 0) = 0;  // the outer ring is never judged
    for (int32_t x = 0; x < 30; ++x) at(ws->maskPlane, *ws, x, 20) = 255;
    at(ws->imagePlane, *ws, 7, 20) = 0;  // background: not judged, comes out white
    const std::vector<uint8_t> before(ws->imagePlane, ws->imagePlane + 900);
    removeBinaryNoise(*ws);
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 30; ++x)
            EXPECT_EQ(at(ws->imagePlane, *ws, x, y), (y == 10 || y == 11) && x >= 5 && x < 25 ? 0 : 255);
    EXPECT_NE(before, std::vector<uint8_t>(ws->imagePlane, ws->imagePlane + 900));

    auto masked = ridgeImage({10, 10});
    std::memset(masked->maskPlane, 255, kPlaneSize);
    std::memset(masked->imagePlane, 0, 100);
    removeBinaryNoise(*masked);
    for (int32_t i = 0; i < 100; ++i) ASSERT_EQ(masked->imagePlane[i], 255);
}

// --- degenerate sizes ---

TEST(EnhanceStages, DegenerateSizesRunThroughEveryStage) {
    // Sanitizer builds check that no stage reads or writes outside its image.
    for (int32_t width = 1; width <= 5; ++width) {
        for (int32_t height = 1; height <= 5; ++height) {
            auto ws = test::makeWorkspace();
            std::mt19937 rng(width * 10 + height);
            test::fillPlanesRandomly(*ws, rng);
            test::setSize(*ws, {width, height});
            const std::vector<uint8_t> tail(ws->imagePlane + 25, ws->imagePlane + 64);
            smoothAndHalve(*ws);
            computeOrientationField(*ws, kOrientationRadius);
            // No Sobel sample fits: the blocks get strength 0 and code 135, the
            // last column (row) of an odd width (height) is cleared to 0.
            for (int32_t y = 0; y < height; ++y) {
                for (int32_t x = 0; x < width; ++x) {
                    const bool block = x < width / 2 * 2 && y < height / 2 * 2;
                    ASSERT_EQ(at(ws->maskPlane, *ws, x, y), 0);
                    ASSERT_EQ(at(ws->orientationPlane, *ws, x, y), block ? 135 : 0) << width << "x" << height;
                }
            }
            const int32_t result = segmentForeground(*ws, kSegmentationRadius, kSegmentationThreshold);
            EXPECT_EQ(result, ws->pixelCount >= 10 ? 1 : 0);
            filterAlongRidges(*ws);
            binarizeRidges(*ws);
            removeBinaryNoise(*ws);
            applyMask(*ws);
            for (int32_t i = 0; i < ws->pixelCount; ++i) {
                ASSERT_EQ(ws->imagePlane[i], 255);
                ASSERT_EQ(ws->orientationPlane[i], 255);
            }
            EXPECT_EQ(tail, std::vector<uint8_t>(ws->imagePlane + 25, ws->imagePlane + 64));
        }
    }
}

}  // namespace
}  // namespace orvane
