#include "minutiae/thinning.h"

#include <gtest/gtest.h>

#include <cstring>

#include "canvas.h"
#include "reference.h"

namespace orvane::test {
namespace {

TEST(ThinningTable, HasTheDeletableCodesOfTheScheme) {
    int ones = 0;
    for (int i = 0; i < 256; ++i) ones += ThinningTable[i];
    EXPECT_EQ(ones, 108);
    // Line ends stay, square corners go, the kept pair of a square stays.
    EXPECT_EQ(ThinningTable[239], 0);
    EXPECT_EQ(ThinningTable[247], 0);
    EXPECT_EQ(ThinningTable[233], 1);
    EXPECT_EQ(ThinningTable[111], 1);
    EXPECT_EQ(ThinningTable[253], 0);
    EXPECT_EQ(ThinningTable[191], 0);
    EXPECT_EQ(ThinningTable[255], 0);
    EXPECT_EQ(ThinningTable[0], 0);
}

std::vector<std::string> thinned(const std::vector<std::string>& art, int32_t pad = 3) {
    const int32_t h = static_cast<int32_t>(art.size()), w = static_cast<int32_t>(art[0].size());
    Canvas c(w + 2 * pad, h + 2 * pad);
    c.draw(pad, pad, art);
    thinImage(c.w(), c.ws->imagePlane, c.ws->width, c.ws->height);
    EXPECT_EQ(0, std::memcmp(c.ws->imagePlane, c.ws->scratchPlane, static_cast<size_t>(c.ws->pixelCount)));
    return c.art(pad, pad, w, h);
}

TEST(ThinImage, WorkedShapes) {
    struct Case {
        const char* name;
        std::vector<std::string> in, out;
    } cases[] = {
        {"isolated pixel", {"...", ".#.", "..."}, {"...", ".#.", "..."}},
        {"horizontal line", {"########"}, {"########"}},
        {"vertical line", {"#", "#", "#", "#", "#"}, {"#", "#", "#", "#", "#"}},
        {"bar 3 x 10",
         {"##########", "##########", "##########"},
         {"..........", ".########.", ".........."}},
        {"square 2 x 2", {"##", "##"}, {".#", ".#"}},
        {"square 5 x 5",
         {"#####", "#####", "#####", "#####", "#####"},
         {".....", "..#..", "..#..", "..#..", "....."}},
    };
    for (const auto& c : cases) EXPECT_EQ(thinned(c.in), c.out) << c.name;
}

TEST(ThinImage, BorderIsNeverChangedAndSolidPlaneStays) {
    Canvas c(9, 7);
    std::memset(c.ws->imagePlane, 0, 63);
    thinImage(c.w(), c.ws->imagePlane, 9, 7);
    EXPECT_EQ(c.ridgeCount(), 63);

    // A bar touching the border: the outer row and column keep their pixels.
    Canvas d(8, 6);
    d.rect(0, 0, 8, 3);
    thinImage(d.w(), d.ws->imagePlane, 8, 6);
    for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(d.pixel(x, 0), 0) << x;
    EXPECT_EQ(d.pixel(0, 1), 0);
    EXPECT_EQ(d.pixel(7, 1), 0);

    // Too small to hold a tested pixel.
    Canvas e(2, 5);
    e.rect(0, 0, 2, 5);
    thinImage(e.w(), e.ws->imagePlane, 2, 5);
    EXPECT_EQ(e.ridgeCount(), 10);
}

// The skip after a deletion and the live reads matter: a variant without
// either would not give the worked results above, and the random shapes below
// pin the full behaviour against the plain transcription.
TEST(ThinImage, MatchesPlainTranscriptionOnRandomShapes) {
    const int32_t sizes[][2] = {{640, 480}, {97, 61}, {20, 300}, {3, 3}, {17, 4}, {300, 17}};
    uint32_t seed = 1;
    for (const auto& size : sizes) {
        for (int rep = 0; rep < 6; ++rep, ++seed) {
            Canvas fast(size[0], size[1]);
            randomRidges(fast, seed, size[0] * size[1] / 150 + 1);
            Canvas plain(size[0], size[1]);
            std::memcpy(plain.ws->imagePlane, fast.ws->imagePlane, sizeof fast.ws->imagePlane);
            thinImage(fast.w(), fast.ws->imagePlane, size[0], size[1]);
            reference::thinImage(plain.w(), plain.ws->imagePlane, size[0], size[1]);
            ASSERT_EQ(fast.image(), plain.image()) << size[0] << "x" << size[1] << " seed " << seed;
            ASSERT_EQ(0, std::memcmp(fast.ws->scratchPlane, plain.ws->scratchPlane,
                                     static_cast<size_t>(fast.ws->pixelCount)));
        }
    }
}

TEST(ThinImage, MatchesPlainTranscriptionOnNoise) {
    // Salt-and-pepper planes, full size too so that runs of deletable pixels
    // cross the 64-pixel words, and with mid-grey values: only exact 0 and
    // 255 take part, whatever else the plane holds.
    std::mt19937 rng(7);
    const int32_t sizes[][2] = {{123, 77}, {640, 480}, {130, 200}};
    for (const auto& size : sizes) {
        for (int rep = 0; rep < 6; ++rep) {
            Canvas fast(size[0], size[1]);
            const uint32_t ridgeShare = 4 + rep % 3 * 2;  // 40, 60 or 80 per cent
            for (int32_t i = 0; i < fast.ws->pixelCount; ++i) {
                const uint32_t r = rng() % 10;
                fast.ws->imagePlane[i] = r < ridgeShare ? 0 : (r < 9 || rep < 3 ? 255 : 128);
            }
            Canvas plain(size[0], size[1]);
            std::memcpy(plain.ws->imagePlane, fast.ws->imagePlane, sizeof fast.ws->imagePlane);
            thinImage(fast.w(), fast.ws->imagePlane, size[0], size[1]);
            reference::thinImage(plain.w(), plain.ws->imagePlane, size[0], size[1]);
            ASSERT_EQ(fast.image(), plain.image()) << size[0] << "x" << size[1] << " rep " << rep;
        }
    }
}

}  // namespace
}  // namespace orvane::test
