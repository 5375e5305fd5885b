#include "minutiae/detection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <tuple>

#include "canvas.h"
#include "core/parameters.h"
#include "minutiae/cleanup.h"
#include "minutiae/description.h"
#include "minutiae/skeleton.h"
#include "minutiae/thinning.h"
#include "reference.h"

namespace orvane::test {
namespace {

using Point = std::tuple<int32_t, int32_t, int32_t>;  // x, y, kind

std::vector<Point> points(const Workspace& ws) {
    std::vector<Point> out;
    for (int32_t i = 0; i < ws.extractedSet.count; ++i) {
        const Minutia& m = ws.extractedSet.minutiae[i];
        out.emplace_back(m.x, m.y, m.kind);
    }
    return out;
}

bool has(const Workspace& ws, int32_t x, int32_t y) {
    for (const auto& p : points(ws))
        if (std::get<0>(p) == x && std::get<1>(p) == y) return true;
    return false;
}

// n horizontal segments of 20 pixels low in a 640 x 480 canvas, 2n endings
// far from each other and from the fixtures above row 300.
void filler(Canvas& c, int32_t n) {
    for (int32_t i = 0; i < n; ++i) c.line(30 + 40 * (i % 14), 440 - 40 * (i / 14), 1, 0, 20);
}

// A horizontal spine with `teeth` teeth hanging down every `spacing` pixels,
// alternately 20 and 40 long: one bifurcation per tooth, one ending per
// tooth and two at the spine's ends.
void comb(Canvas& c, int32_t x0, int32_t y, int32_t teeth, int32_t spacing) {
    c.line(x0, y, 1, 0, 30 + (teeth - 1) * spacing + 1);
    for (int32_t t = 0; t < teeth; ++t) c.line(x0 + 15 + t * spacing, y + 1, 0, 1, t % 2 ? 40 : 20);
}

TEST(DetectMinutiae, EightMinutiaeSucceedSevenFail) {
    Canvas c(640, 480);
    filler(c, 4);
    ASSERT_EQ(detectMinutiae(c.w()), 0);
    ASSERT_EQ(c.ws->extractedSet.count, 8);
    // Endings in scan order, each described as describeEnding does.
    EXPECT_EQ(points(c.w())[0], Point(30, 440, kEnding));
    EXPECT_EQ(points(c.w())[1], Point(49, 440, kEnding));
    Minutia m{};
    ASSERT_TRUE(describeEnding(c.w(), 49, 440, m));
    EXPECT_EQ(0, std::memcmp(&m, &c.ws->extractedSet.minutiae[1], sizeof m));
    EXPECT_EQ(m.direction, 180);

    // One background value 17 columns away is outside the 33 x 33 window.
    c.ws->orientationPlane[c.at(30 - 17, 440 + 16)] = 255;
    EXPECT_EQ(detectMinutiae(c.w()), 0);
    EXPECT_EQ(c.ws->extractedSet.count, 8);
    // At 16 it is inside: that ending is no candidate, and 7 fail.
    c.ws->orientationPlane[c.at(30 - 16, 440 + 16)] = 255;
    EXPECT_EQ(detectMinutiae(c.w()), 1);
    EXPECT_EQ(c.ws->extractedSet.count, 7);
    EXPECT_FALSE(has(c.w(), 30, 440));
}

TEST(DetectMinutiae, EndingsFirstThenBifurcations) {
    Canvas c(640, 480);
    filler(c, 4);
    comb(c, 100, 100, 3, 30);
    ASSERT_EQ(detectMinutiae(c.w()), 0);
    const auto p = points(c.w());
    ASSERT_EQ(p.size(), 8u + 5u + 3u);
    const auto firstBifurcation = std::find_if(p.begin(), p.end(), [](const Point& q) { return std::get<2>(q) == 2; });
    EXPECT_EQ(firstBifurcation - p.begin(), 13);
    EXPECT_TRUE(std::all_of(firstBifurcation, p.end(), [](const Point& q) { return std::get<2>(q) == 2; }));
    EXPECT_TRUE(std::is_sorted(p.begin(), firstBifurcation, [](const Point& a, const Point& b) {
        return std::make_pair(std::get<1>(a), std::get<0>(a)) < std::make_pair(std::get<1>(b), std::get<0>(b));
    }));
    EXPECT_EQ(*firstBifurcation, Point(115, 100, kBifurcation));
}

TEST(DetectMinutiae, EndingPairFilter) {
    struct Case {
        const char* name;
        void (*draw)(Canvas&);
        bool firstStays, secondStays;
    } cases[] = {
        {"7 apart", [](Canvas& c) { c.line(100, 100, 0, 1, 20), c.line(107, 100, 0, 1, 40); }, false, false},
        {"8 apart, not facing", [](Canvas& c) { c.line(100, 100, 0, 1, 20), c.line(108, 100, 0, 1, 40); }, true, true},
        {"12 apart, facing", [](Canvas& c) { c.line(100, 100, -1, 0, 20), c.line(112, 100, 1, 0, 20); }, false, false},
        {"12 apart, one running up", [](Canvas& c) { c.line(100, 100, -1, 0, 20), c.line(112, 100, 0, -1, 20); },
         true, true},
        {"17 apart, facing", [](Canvas& c) { c.line(100, 100, -1, 0, 20), c.line(117, 100, 1, 0, 20); }, true, true},
    };
    for (const auto& k : cases) {
        Canvas c(640, 480);
        filler(c, 4);
        k.draw(c);
        ASSERT_EQ(detectMinutiae(c.w()), 0) << k.name;
        const int32_t second = std::string(k.name).rfind("7 apart", 0) == 0 ? 107
                               : std::string(k.name).rfind("8", 0) == 0 ? 108
                               : std::string(k.name).rfind("12", 0) == 0 ? 112
                                                                          : 117;
        EXPECT_EQ(has(c.w(), 100, 100), k.firstStays) << k.name;
        EXPECT_EQ(has(c.w(), second, 100), k.secondStays) << k.name;
    }
}

TEST(DetectMinutiae, RemovedEntryIsNotComparedAgain) {
    // E1 - E2 6 apart, E2 - E3 6 apart, E1 - E3 12 apart and parallel.
    Canvas c(640, 480);
    filler(c, 4);
    c.line(100, 100, 0, 1, 20);
    c.line(106, 100, 0, 1, 40);
    c.line(112, 100, 0, 1, 60);
    ASSERT_EQ(detectMinutiae(c.w()), 0);
    EXPECT_FALSE(has(c.w(), 100, 100));
    EXPECT_FALSE(has(c.w(), 106, 100));
    EXPECT_TRUE(has(c.w(), 112, 100));
}

TEST(DetectMinutiae, UntraceableEndingIsComparedWithNoFurtherEntries) {
    // a (100,100) has two adjacent ridge neighbours: an ending candidate with
    // no trace. b (110,100) is 10 away, c (95,104) 6.4 away but later in the
    // list: reaching b, a's trace fails and a meets no further entry, so c
    // is not merged with it.
    Canvas c(640, 480);
    filler(c, 4);
    c.ridge(100, 100);
    c.ridge(100, 101);
    c.line(101, 101, 0, 1, 40);
    c.line(110, 100, 0, -1, 20);
    c.line(95, 104, 0, 1, 17);
    ASSERT_TRUE(isEndingPixel(c.w(), c.at(100, 100)));
    ASSERT_EQ(detectMinutiae(c.w()), 0);
    EXPECT_FALSE(has(c.w(), 100, 100));  // no record without a trace
    EXPECT_TRUE(has(c.w(), 110, 100));
    EXPECT_TRUE(has(c.w(), 95, 104));
}

TEST(DetectMinutiae, BifurcationPairFilter) {
    for (int32_t spacing : {5, 6}) {
        Canvas c(640, 480);
        filler(c, 4);
        comb(c, 100, 100, 2, spacing);
        ASSERT_EQ(detectMinutiae(c.w()), 0);
        EXPECT_EQ(has(c.w(), 115, 100), spacing == 6);
        EXPECT_EQ(has(c.w(), 115 + spacing, 100), spacing == 6);
    }
}

TEST(DetectMinutiae, SixtyEndingsStartTheNextAttempt) {
    // 60 traceable endings in attempt 1; in attempt 2 (distances 8 and 6)
    // the two tops 8 apart and the two junctions 6 apart go.
    Canvas c(640, 480);
    filler(c, 26);
    c.line(100, 100, 0, 1, 20);
    c.line(108, 100, 0, 1, 40);
    comb(c, 300, 100, 2, 6);
    ASSERT_EQ(detectMinutiae(c.w()), 0);
    EXPECT_EQ(c.ws->extractedSet.count, 58);
    EXPECT_FALSE(has(c.w(), 100, 100));
    EXPECT_FALSE(has(c.w(), 315, 100));
    for (const auto& p : points(c.w())) EXPECT_EQ(std::get<2>(p), kEnding);
}

TEST(DetectMinutiae, MoreThanSixtyTogetherStartTheNextAttempt) {
    // 34 endings and 28 bifurcations 10 apart: too many records until attempt
    // 6, whose merge distance 10 removes every junction.
    Canvas c(640, 480);
    filler(c, 1);
    comb(c, 40, 60, 14, 10);
    comb(c, 40, 200, 14, 10);
    ASSERT_EQ(detectMinutiae(c.w()), 0);
    EXPECT_EQ(c.ws->extractedSet.count, 34);
    for (const auto& p : points(c.w())) EXPECT_EQ(std::get<2>(p), kEnding);
}

TEST(DetectMinutiae, HundredCandidatesFailAtOnce) {
    Canvas c(640, 480);
    filler(c, 50);
    c.ws->extractedSet.count = 5;
    EXPECT_EQ(detectMinutiae(c.w()), 1);
    EXPECT_EQ(c.ws->extractedSet.count, 5);
}

TEST(DetectMinutiae, SixtyEndingsThroughAllAttemptsFail) {
    // 60 endings at least 39 apart: no merge distance up to 37 removes one.
    Canvas c(640, 480);
    for (int32_t i = 0; i < 30; ++i) c.line(20 + 100 * (i % 6), 40 + 80 * (i / 6), 1, 0, 40);
    c.ws->extractedSet.count = 5;
    EXPECT_EQ(detectMinutiae(c.w()), 1);
    EXPECT_EQ(c.ws->extractedSet.count, 5);
    // 59 of them are fine.
    c.ws->orientationPlane[c.at(20, 40 - 16)] = 255;
    EXPECT_EQ(detectMinutiae(c.w()), 0);
    EXPECT_EQ(c.ws->extractedSet.count, 59);
}

TEST(DetectMinutiae, SmallImagesHaveNoScanPositions) {
    Canvas c(100, 34);
    c.line(20, 17, 1, 0, 30);
    c.ws->extractedSet.count = 5;
    EXPECT_EQ(detectMinutiae(c.w()), 1);
    EXPECT_EQ(c.ws->extractedSet.count, 0);
}

TEST(CircleVariation, SmoothFlowIsLowAndACoreIsHigh) {
    Canvas c(80, 80, 30);
    EXPECT_EQ(circleVariation(c.w(), 40, 40), 0);
    for (int32_t y = 0; y < 80; ++y)
        for (int32_t x = 0; x < 80; ++x) {
            const double a = std::atan2(y - 40.0, x - 40.0) * 57.29578;
            c.ws->orientationPlane[c.at(x, y)] = static_cast<uint8_t>((static_cast<int32_t>(a + 360.0) / 2) % 180);
        }
    EXPECT_GT(circleVariation(c.w(), 40, 40), 96);
    // Such a minutia is no candidate.
    c.line(40, 40, 1, 0, 10);
    CandidateList endings, bifurcations;
    EXPECT_EQ(scanCandidates(c.w(), endings, bifurcations), 0);
    for (int32_t i = 0; i < endings.count; ++i) EXPECT_NE(endings.x[i], 40);
    EXPECT_EQ(endings.count, 1);  // the far end, 9 pixels from the core
}

// Random thinned and cleaned shapes over a random orientation field with
// background patches, against the plain transcription of detection.
TEST(DetectMinutiae, MatchesPlainTranscriptionOnRandomSkeletons) {
    int outcomes[2] = {0, 0};
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        std::mt19937 rng(seed * 7919);
        const int32_t w = 160 + static_cast<int32_t>(rng() % 480), h = 120 + static_cast<int32_t>(rng() % 360);
        Canvas a(w, h);
        randomRidges(a, seed, static_cast<int32_t>(20 + rng() % 400));
        thinImage(a.w(), a.ws->imagePlane, w, h);
        cleanSkeleton(a.w(), kMaxPieceLength);
        // Orientation: slowly turning field, a few background patches.
        const double fx = (rng() % 100) / 2000.0, fy = (rng() % 100) / 2000.0;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                a.ws->orientationPlane[a.at(x, y)] = static_cast<uint8_t>(static_cast<int32_t>(x * fx * 57 + y * fy * 57) % 180);
        for (int patch = 0; patch < 3; ++patch) {
            const int32_t px = static_cast<int32_t>(rng() % w), py = static_cast<int32_t>(rng() % h);
            for (int32_t y = py; y < std::min(h, py + 10); ++y)
                for (int32_t x = px; x < std::min(w, px + 10); ++x) a.ws->orientationPlane[a.at(x, y)] = 255;
        }
        Canvas b(w, h);
        std::memcpy(b.ws->imagePlane, a.ws->imagePlane, sizeof a.ws->imagePlane);
        std::memcpy(b.ws->orientationPlane, a.ws->orientationPlane, sizeof a.ws->orientationPlane);
        std::memset(&a.ws->extractedSet, 0, sizeof a.ws->extractedSet);
        std::memset(&b.ws->extractedSet, 0, sizeof b.ws->extractedSet);
        const auto skeleton = a.image();
        const int32_t fast = detectMinutiae(a.w());
        const int32_t plain = reference::detectMinutiae(b.w());
        ASSERT_EQ(fast, plain) << seed;
        ASSERT_EQ(0, std::memcmp(&a.ws->extractedSet, &b.ws->extractedSet, sizeof a.ws->extractedSet)) << seed;
        ASSERT_EQ(a.image(), skeleton);
        ++outcomes[fast];
    }
    EXPECT_GT(outcomes[0], 2);
    EXPECT_GT(outcomes[1], 2);
}

}  // namespace
}  // namespace orvane::test
