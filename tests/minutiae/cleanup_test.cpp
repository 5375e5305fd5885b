#include "minutiae/cleanup.h"

#include <gtest/gtest.h>

#include <cstring>

#include "canvas.h"
#include "core/parameters.h"
#include "minutiae/skeleton.h"
#include "minutiae/thinning.h"
#include "reference.h"

namespace orvane::test {
namespace {

TEST(CleanSkeleton, ErasesIsolatedPixelsAndShortFragments) {
    Canvas c(40, 12);
    c.ridge(3, 3);
    c.line(2, 6, 1, 0, 12);   // 12 pixels: erased
    c.line(2, 9, 1, 0, 13);   // 13 pixels: stays
    c.line(30, 3, 1, 1, 2);   // two mutually adjacent end pixels: erased
    cleanSkeleton(c.w(), kMaxPieceLength);
    EXPECT_EQ(c.pixel(3, 3), 255);
    for (int32_t x = 2; x < 14; ++x) EXPECT_EQ(c.pixel(x, 6), 255) << x;
    for (int32_t x = 2; x < 15; ++x) EXPECT_EQ(c.pixel(x, 9), 0) << x;
    EXPECT_EQ(c.ridgeCount(), 13);
}

TEST(CleanSkeleton, SpursUpToTwelvePixelsGo) {
    for (int32_t spur : {12, 13}) {
        Canvas c(40, 24);
        c.line(2, 20, 1, 0, 36);          // the ridge, longer than any piece
        c.line(20, 19, 0, -1, spur);      // spur up from the junction (20,20)
        ASSERT_TRUE(isBifurcationPixel(c.w(), c.at(20, 20)));
        cleanSkeleton(c.w(), kMaxPieceLength);
        const bool erased = spur <= 12;
        EXPECT_EQ(c.ridgeCount(), erased ? 36 : 36 + spur) << spur;
        EXPECT_EQ(c.pixel(20, 20), 0);
    }
}

TEST(CleanSkeleton, ThickEndsAndJunctionsThatAreNotBifurcations) {
    // (5,5) has two ridge neighbours, so it is no end pixel. The fragment is
    // walked from (9,5) instead and ends at (7,5), which continues two ways
    // without being a bifurcation pixel: (7,5) goes with the piece.
    Canvas c(20, 12);
    c.draw(5, 5, {"#####", ".#..."});
    cleanSkeleton(c.w(), kMaxPieceLength);
    EXPECT_EQ(c.art(5, 5, 5, 2), (std::vector<std::string>{"##...", ".#..."}));
}

TEST(CleanSkeleton, MaxPieceLengthZeroErasesOnlyIsolatedPixels) {
    Canvas c(20, 12);
    c.ridge(3, 3);
    c.line(2, 6, 1, 0, 2);
    cleanSkeleton(c.w(), 0);
    EXPECT_EQ(c.pixel(3, 3), 255);
    EXPECT_EQ(c.ridgeCount(), 2);
}

TEST(CleanSkeleton, RidgeOnTheBorderIsLeftAlone) {
    // Not produced by the pipeline (the mask clears the border); no ring
    // outside the image is read.
    Canvas c(10, 6);
    c.line(0, 0, 1, 0, 10);
    c.line(5, 1, 0, 1, 3);  // fragment hanging from the border row
    cleanSkeleton(c.w(), kMaxPieceLength);
    for (int32_t x = 0; x < 10; ++x) EXPECT_EQ(c.pixel(x, 0), 0);
}

TEST(CleanSkeleton, MatchesPlainTranscriptionOnThinnedShapes) {
    for (uint32_t seed = 100; seed < 130; ++seed) {
        Canvas a(200, 150);
        randomRidges(a, seed, 220);
        thinImage(a.w(), a.ws->imagePlane, 200, 150);
        Canvas b(200, 150);
        std::memcpy(b.ws->imagePlane, a.ws->imagePlane, sizeof a.ws->imagePlane);
        const int32_t length = static_cast<int32_t>(seed % 14);
        cleanSkeleton(a.w(), length);
        reference::cleanSkeleton(b.w(), length);
        ASSERT_EQ(a.image(), b.image()) << seed;
    }
}

}  // namespace
}  // namespace orvane::test
