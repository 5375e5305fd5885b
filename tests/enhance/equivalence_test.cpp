// The optimised stages against their straightforward transcriptions: every
// byte of every plane must agree.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/parameters.h"
#include "enhance/enhance.h"
#include "enhance/images.h"
#include "enhance/orientation_code.h"
#include "enhance/reference.h"
#include "formats/bitmap.h"
#include "interface/extraction.h"
#include "interface/stages.h"

namespace orvane {
namespace {

using test::Size;

::testing::AssertionResult samePlanes(const Workspace& fast, const Workspace& slow) {
    const struct {
        const char* name;
        const uint8_t* a;
        const uint8_t* b;
    } planes[] = {{"imagePlane", fast.imagePlane, slow.imagePlane},
                  {"orientationPlane", fast.orientationPlane, slow.orientationPlane},
                  {"maskPlane", fast.maskPlane, slow.maskPlane},
                  {"scratchPlane", fast.scratchPlane, slow.scratchPlane}};
    for (const auto& plane : planes) {
        const int32_t at = test::firstDifference(plane.a, plane.b);
        if (at >= 0)
            return ::testing::AssertionFailure()
                   << plane.name << " differs at byte " << at << " (" << int(plane.a[at]) << " vs " << int(plane.b[at])
                   << ") for " << fast.width << "x" << fast.height;
    }
    if (fast.width != slow.width || fast.height != slow.height || fast.pixelCount != slow.pixelCount)
        return ::testing::AssertionFailure() << "sizes differ";
    return ::testing::AssertionSuccess();
}

// Runs a stage on a workspace and on its copy through the transcription.
::testing::AssertionResult sameAfter(Workspace& ws, const std::function<void(Workspace&)>& fast,
                                     const std::function<void(Workspace&)>& slow) {
    auto copy = test::copyOf(ws);
    fast(ws);
    slow(*copy);
    return samePlanes(ws, *copy);
}

// Random grey image, with the planes around it random too.
std::unique_ptr<Workspace> randomWorkspace(Size size, uint32_t seed) {
    std::mt19937 rng(seed);
    auto ws = test::makeWorkspace();
    test::fillPlanesRandomly(*ws, rng);
    test::setSize(*ws, size);
    return ws;
}

// Random planes, then the synthetic print in imagePlane.
std::unique_ptr<Workspace> printWorkspace(Size size, uint32_t seed) {
    auto ws = randomWorkspace(size, seed);
    const auto image = test::syntheticPrint(size, seed);
    std::memcpy(ws->imagePlane, image.data(), image.size());
    return ws;
}

TEST(EnhanceEquivalence, BoxMeanForEveryRadiusAndSampling) {
    struct Case {
        int32_t radius, sampling;
        bool smallOnly;
    };
    const Case cases[] = {{1, 1, false},  {12, 2, false}, {0, 1, false},  {0, 2, false},  {2, 1, false},
                          {1, 2, false},  {3, 2, false},  {5, 7, false},  {12, 1, true},  {-1, 1, true},
                          {-2, 2, true},  {700, 2, true}, {701, 2, true}, {700, 1, true}, {2147483647, 2, true}};
    uint32_t seed = 1;
    for (Size size : test::testSizes()) {
        for (const Case& c : cases) {
            if (c.smallOnly && size.width * size.height > 31 * 17) continue;
            auto ws = randomWorkspace(size, seed++);
            auto copyRadius = c.radius;
            if (copyRadius > 1000) copyRadius = 1001;  // same window as any larger odd radius
            EXPECT_TRUE(sameAfter(
                *ws, [&](Workspace& w) { boxMean(w, w.maskPlane, w.scratchPlane, c.radius, c.sampling); },
                [&](Workspace& w) { reference::boxMean(w, w.maskPlane, w.scratchPlane, copyRadius, c.sampling); }))
                << "radius " << c.radius << " sampling " << c.sampling;
        }
    }
}

TEST(EnhanceEquivalence, OrientationCodeWithoutAtan2) {
    // Random sums of every scale, vectors placed right at the steps of g
    // (psi * 28.64789 + 0.5 crossing an integer, both branches), the axes and
    // the extremes: the code must be the literal one everywhere.
    const OrientationCoder& coder = orientationCoder();
    std::mt19937_64 rng(42);
    auto check = [&](int64_t k, int64_t l) {
        ASSERT_EQ(coder.code(k, l), orientationCodeByAtan2(k, l)) << "K " << k << " L " << l;
    };
    for (int64_t magnitude : {int64_t{1}, int64_t{3}, int64_t{100}, int64_t{100000}, int64_t{352000000},
                              int64_t{1} << 40, int64_t{1} << 53, int64_t{1} << 60}) {
        std::uniform_int_distribution<int64_t> value(-magnitude, magnitude);
        for (int i = 0; i < 200000; ++i) check(value(rng), value(rng));
        for (int64_t a : {int64_t{0}, int64_t{1}, -int64_t{1}, magnitude, -magnitude})
            for (int64_t b : {int64_t{0}, int64_t{1}, -int64_t{1}, magnitude, -magnitude}) check(a, b);
    }
    std::uniform_real_distribution<double> jitter(-2.0, 2.0);
    for (int32_t j = 0; j <= 181; ++j) {
        for (double shift : {0.0, -6.283186}) {
            const double edge = (j - 0.5) / 28.64789 + shift;
            for (double radius : {50.0, 1e4, 1e6, 3.5e8, 1e12, 1e15}) {
                for (int i = 0; i < 40; ++i) {
                    const int64_t k = static_cast<int64_t>(std::llround(radius * std::sin(edge) + jitter(rng)));
                    const int64_t l = static_cast<int64_t>(std::llround(radius * std::cos(edge) + jitter(rng)));
                    check(k, l);
                }
            }
        }
    }
}

TEST(EnhanceEquivalence, SmoothingAndHalving) {
    uint32_t seed = 100;
    for (Size size : test::testSizes()) {
        auto noisy = randomWorkspace(size, seed++);
        EXPECT_TRUE(sameAfter(*noisy, halveImage, reference::halveImage));
        auto print = printWorkspace(size, seed++);
        EXPECT_TRUE(sameAfter(*print, smoothAndHalve, reference::smoothAndHalve));
    }
}

TEST(EnhanceEquivalence, OrientationField) {
    uint32_t seed = 200;
    for (Size size : test::testSizes()) {
        // A print-like half image, and pure noise (strengths past 255).
        auto print = printWorkspace(size, seed++);
        smoothAndHalve(*print);
        EXPECT_TRUE(sameAfter(*print, [](Workspace& w) { computeOrientationField(w, kOrientationRadius); },
                              [](Workspace& w) { reference::computeOrientationField(w, kOrientationRadius); }));
        for (int32_t radius : {6, 0, 1, 3, 40, -1}) {
            if (radius > 6 && size.width > 101) continue;
            auto noisy = randomWorkspace(size, seed++);
            EXPECT_TRUE(sameAfter(*noisy, [&](Workspace& w) { computeOrientationField(w, radius); },
                                  [&](Workspace& w) { reference::computeOrientationField(w, radius); }))
                << "radius " << radius;
        }
    }
}

TEST(EnhanceEquivalence, SegmentationAndMask) {
    uint32_t seed = 300;
    for (Size size : test::testSizes()) {
        for (int32_t threshold : {32, 35}) {
            // Strengths around the threshold, in blocks, so that the means cross it.
            auto ws = randomWorkspace(size, seed++);
            std::mt19937 rng(seed);
            std::uniform_int_distribution<int> strength(0, 70);
            for (int32_t i = 0; i < ws->pixelCount; ++i) ws->maskPlane[i] = static_cast<uint8_t>(strength(rng));
            int32_t fastResult = -1, slowResult = -1;
            EXPECT_TRUE(sameAfter(
                *ws, [&](Workspace& w) { fastResult = segmentForeground(w, kSegmentationRadius, threshold); },
                [&](Workspace& w) { slowResult = reference::segmentForeground(w, kSegmentationRadius, threshold); }));
            EXPECT_EQ(fastResult, slowResult);
            EXPECT_TRUE(sameAfter(*ws, applyMask, reference::applyMask));
        }
    }
}

TEST(EnhanceEquivalence, RidgeFiltersOnRandomCodes) {
    uint32_t seed = 400;
    for (Size size : test::testSizes()) {
        auto ws = printWorkspace(size, seed++);
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> code(0, 185);  // a few codes past 179 too
        for (int32_t i = 0; i < ws->pixelCount; ++i) {
            const int c = code(rng);
            ws->orientationPlane[i] = static_cast<uint8_t>(c > 179 ? 255 : c);
        }
        EXPECT_TRUE(sameAfter(*ws, filterAlongRidges, reference::filterAlongRidges));
        EXPECT_TRUE(sameAfter(*ws, binarizeRidges, reference::binarizeRidges));
        // Noise removal on the ridge image with a blocky random mask.
        for (int32_t y = 0; y < size.height; ++y)
            for (int32_t x = 0; x < size.width; ++x)
                ws->maskPlane[y * size.width + x] = ((x / 16 + y / 16) % 3 == 0) ? 255 : 0;
        EXPECT_TRUE(sameAfter(*ws, removeBinaryNoise, reference::removeBinaryNoise));
        // Noise removal of sparse random dots: many passes.
        std::bernoulli_distribution dot(0.3);
        for (int32_t i = 0; i < ws->pixelCount; ++i) ws->imagePlane[i] = dot(rng) ? 0 : 255;
        EXPECT_TRUE(sameAfter(*ws, removeBinaryNoise, reference::removeBinaryNoise));
        // Thin lines of many lengths, some crossing the mask's edges: passes
        // up to the limit, shrinking from both ends.
        std::memset(ws->imagePlane, 255, static_cast<size_t>(ws->pixelCount));
        std::uniform_int_distribution<int32_t> column(0, size.width - 1), row(0, size.height - 1), length(1, 40);
        for (int32_t line = 0; line < ws->pixelCount / 200 + 1; ++line) {
            int32_t x = column(rng), y = row(rng);
            const int32_t dx = line % 3 == 0 ? 1 : 0, dy = line % 3 == 1 ? 0 : 1;
            for (int32_t i = length(rng); i > 0 && x < size.width && y < size.height; --i, x += dx, y += dy)
                ws->imagePlane[y * size.width + x] = 0;
        }
        EXPECT_TRUE(sameAfter(*ws, removeBinaryNoise, reference::removeBinaryNoise));
    }
}

// Every width from 1 to 40: the vector paths of smoothing, halving, the
// gradient products, the ridge filters and noise removal take blocks of 8 or 16 pixels and finish or overlap the
// rest of a row, so each remainder and the widths just too narrow for a
// block must agree too.
TEST(EnhanceEquivalence, EveryNarrowWidth) {
    uint32_t seed = 450;
    for (int32_t width = 1; width <= 40; ++width) {
        for (int32_t height : {5, 8, 23}) {
            const Size size{width, height};
            auto print = printWorkspace(size, seed++);
            EXPECT_TRUE(sameAfter(*print, smoothAndHalve, reference::smoothAndHalve));
            EXPECT_TRUE(sameAfter(*print, [](Workspace& w) { computeOrientationField(w, kOrientationRadius); },
                                  [](Workspace& w) { reference::computeOrientationField(w, kOrientationRadius); }))
                << width << "x" << height;
            auto ws = printWorkspace(size, seed++);
            std::mt19937 rng(seed);
            // Long runs of one code with random breaks, so that blocks hold
            // one, two or many table rows.
            std::uniform_int_distribution<int> code(0, 185), change(0, 5);
            int current = 0;
            for (int32_t i = 0; i < ws->pixelCount; ++i) {
                if (change(rng) == 0) current = code(rng);
                ws->orientationPlane[i] = static_cast<uint8_t>(current > 179 ? 255 : current);
            }
            EXPECT_TRUE(sameAfter(*ws, filterAlongRidges, reference::filterAlongRidges)) << width << "x" << height;
            EXPECT_TRUE(sameAfter(*ws, binarizeRidges, reference::binarizeRidges)) << width << "x" << height;
            // Noise removal of the ridge image, then of sparse dots, under a
            // mask with holes.
            std::bernoulli_distribution hole(0.1), dot(0.3);
            for (int32_t i = 0; i < ws->pixelCount; ++i) ws->maskPlane[i] = hole(rng) ? 255 : 0;
            EXPECT_TRUE(sameAfter(*ws, removeBinaryNoise, reference::removeBinaryNoise)) << width << "x" << height;
            for (int32_t i = 0; i < ws->pixelCount; ++i) ws->imagePlane[i] = dot(rng) ? 0 : 255;
            EXPECT_TRUE(sameAfter(*ws, removeBinaryNoise, reference::removeBinaryNoise)) << width << "x" << height;
        }
    }
}

// The segmentation's wide window leaves a vector run only from width 42 on:
// every remainder of it, and the threshold comparison of 16 at a time.
TEST(EnhanceEquivalence, SegmentationOverEveryRemainder) {
    uint32_t seed = 470;
    for (int32_t width = 30; width <= 80; ++width) {
        auto ws = randomWorkspace({width, 29}, seed++);
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> strength(0, 255);
        for (int32_t i = 0; i < ws->pixelCount; ++i) ws->maskPlane[i] = static_cast<uint8_t>(strength(rng));
        for (int32_t threshold : {128, 1, 255, 0, 256}) {
            auto copy = test::copyOf(*ws);
            int32_t fastResult = -1, slowResult = -1;
            EXPECT_TRUE(sameAfter(
                *copy, [&](Workspace& w) { fastResult = segmentForeground(w, kSegmentationRadius, threshold); },
                [&](Workspace& w) { slowResult = reference::segmentForeground(w, kSegmentationRadius, threshold); }))
                << width << " threshold " << threshold;
            EXPECT_EQ(fastResult, slowResult) << width << " threshold " << threshold;
        }
    }
}

// The transcription of each enhancement stage, with the extraction's
// parameters.
void runPlainStage(Workspace& w, Stage stage) {
    switch (stage) {
        case Stage::kSmoothAndHalve: reference::smoothAndHalve(w); break;
        case Stage::kOrientationField: reference::computeOrientationField(w, kOrientationRadius); break;
        case Stage::kSegmentation: reference::segmentForeground(w, kSegmentationRadius, kSegmentationThreshold); break;
        case Stage::kRidgeFilter: reference::filterAlongRidges(w); break;
        case Stage::kBinarization: reference::binarizeRidges(w); break;
        case Stage::kNoiseRemoval: reference::removeBinaryNoise(w); break;
        case Stage::kMasking: reference::applyMask(w); break;
        default: FAIL() << "no transcription of " << stageName(stage);
    }
}

// The whole front of the extraction (the library's stages before thinning),
// stage after stage, each going on whether segmentation found enough
// foreground or not.
::testing::AssertionResult sameChain(Workspace& ws) {
    for (const Stage stage : kExtractionStages) {
        if (stage == Stage::kThinning) break;
        auto result = sameAfter(
            ws, [stage](Workspace& w) { runStage(w, stage); }, [stage](Workspace& w) { runPlainStage(w, stage); });
        if (!result) return result << " after " << stageName(stage);
    }
    return ::testing::AssertionSuccess();
}

TEST(EnhanceEquivalence, WholeChainOnSyntheticPrints) {
    uint32_t seed = 500;
    for (Size size : test::testSizes()) {
        auto ws = printWorkspace(size, seed++);
        EXPECT_TRUE(sameChain(*ws));
        const auto image = test::syntheticPrint(size, seed);
        int32_t fastQuality = -1, slowQuality = -2;
        auto other = test::makeWorkspace();
        EXPECT_EQ(measureQuality(*ws, image.data(), size.width, size.height, &fastQuality), 0);
        EXPECT_EQ(reference::measureQuality(*other, image.data(), size.width, size.height, &slowQuality), 0);
        EXPECT_EQ(fastQuality, slowQuality) << size.width << "x" << size.height;
    }
}

TEST(EnhanceEquivalence, WholeChainOnRealPrints) {
    const auto prints = test::realPrints();
    if (prints.empty()) GTEST_SKIP() << "no real prints";
    // Every fifth print (of every folder) keeps the run short.
    for (size_t i = 0; i < prints.size(); i += 5) {
        auto ws = test::makeWorkspace();
        std::mt19937 rng(static_cast<uint32_t>(i));
        test::fillPlanesRandomly(*ws, rng);
        int32_t width = 0, height = 0;
        ASSERT_EQ(readBitmap(prints[i].c_str(), nullptr, &width, &height), 0) << prints[i];
        ASSERT_LE(width, kMaxWidth);
        ASSERT_LE(height, kMaxHeight);
        ASSERT_EQ(readBitmap(prints[i].c_str(), ws->imagePlane, &width, &height), 0) << prints[i];
        test::setSize(*ws, {width, height});
        EXPECT_TRUE(sameChain(*ws)) << prints[i];
    }
}

}  // namespace
}  // namespace orvane
