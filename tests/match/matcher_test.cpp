#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "formats/feature_template.h"
#include "match/matcher.h"
#include "orvane.h"
#include "reference_matcher.h"
#include "support/synthetic_sets.h"

namespace orvane {
namespace {

Minutia minutia(int32_t x, int32_t y, int32_t direction, int32_t kind, int32_t r0 = 30, int32_t r1 = 60,
                int32_t r2 = 90) {
    Minutia m{};
    m.x = x;
    m.y = y;
    m.direction = direction;
    m.ringOrientation[0] = r0;
    m.ringOrientation[1] = r1;
    m.ringOrientation[2] = r2;
    m.kind = kind;
    return m;
}

MinutiaSet setOf(const std::vector<Minutia>& ms) {
    MinutiaSet s{};
    s.count = static_cast<int32_t>(ms.size());
    for (size_t i = 0; i < ms.size(); ++i) s.minutiae[i] = ms[i];
    return s;
}

// n minutiae on a 20-pixel grid (more than 10 apart), mixed kinds and directions.
MinutiaSet spreadSet(int32_t n) {
    std::vector<Minutia> ms;
    for (int32_t i = 0; i < n; ++i) ms.push_back(minutia(20 + 20 * (i % 10), 20 + 20 * (i / 10), (i * 37) % 360, 1 + i % 2));
    return setOf(ms);
}

std::vector<uint8_t> pack(const MinutiaSet& s) {
    std::vector<uint8_t> t(kMaxTemplateBytes);
    t.resize(static_cast<size_t>(packTemplate(&s, t.data())));
    return t;
}

MatchResult matched(const MinutiaSet& probe, const MinutiaSet& reference, int32_t mode) {
    MatchResult r{-1, -1, -1, -1, -1};
    matchMinutiaSets(probe, reference, r, mode);
    return r;
}

void expectResult(const MatchResult& r, int32_t score, int32_t rotation, int32_t sx, int32_t sy, int32_t count) {
    EXPECT_EQ(r.score, score);
    EXPECT_EQ(r.rotation, rotation);
    EXPECT_EQ(r.shiftX, sx);
    EXPECT_EQ(r.shiftY, sy);
    EXPECT_EQ(r.matchedCount, count);
}

TEST(MatchMinutiaSets, IdenticalSetsScoreAsCounted) {
    struct Case {
        int32_t n, mode, score, count, reported;
    } cases[] = {
        {20, kFullSearch, 1200, 20, 1200}, {20, kQuickSearch, 192, 8, 192}, {10, kFullSearch, 1039, 10, 1039},
        {10, kQuickSearch, 768, 8, 768},   {60, kQuickSearch, 108, 18, 108}, {60, kFullSearch, 1200, 60, 1200},
        {5, kFullSearch, 600, 5, 0},       {5, kQuickSearch, 1200, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.n << " minutiae, mode " << c.mode);
        const MinutiaSet s = spreadSet(c.n);
        expectResult(matched(s, s, c.mode), c.score, 0, 0, 0, c.count);
        const std::vector<uint8_t> t = pack(s);
        int32_t score = -1;
        ASSERT_EQ(VerifyMatch(t.data(), t.data(), &score, c.mode == kQuickSearch ? 1 : 0), 0);
        EXPECT_EQ(score, c.reported);
    }
}

TEST(MatchMinutiaSets, EmptySetsGiveAnAllZeroResult) {
    const MinutiaSet empty{};
    const MinutiaSet s = spreadSet(12);
    for (int32_t mode : {kFullSearch, kQuickSearch}) {
        expectResult(matched(empty, s, mode), 0, 0, 0, 0, 0);
        expectResult(matched(s, empty, mode), 0, 0, 0, 0, 0);
        expectResult(matched(empty, empty, mode), 0, 0, 0, 0, 0);
    }
}

TEST(MatchMinutiaSets, ZeroScoreNeverReplacesTheStart) {
    // 10 probe minutiae of kind 1 spaced widely; the reference has one of
    // kind 1 and 59 of kind 2 far away. Each anchor pairs only itself: 1 x 20
    // x 240 / 70^2 = 0.
    std::vector<Minutia> probe, reference;
    for (int32_t i = 0; i < 10; ++i) probe.push_back(minutia(100 + 30 * (i % 5), 100 + 30 * (i / 5), 0, 1));
    reference.push_back(minutia(300, 300, 0, 1));
    for (int32_t i = 0; i < 59; ++i) reference.push_back(minutia(700 + 5 * (i % 10), 700 + 5 * (i / 10), 0, 2));
    for (int32_t mode : {kFullSearch, kQuickSearch}) {
        expectResult(matched(setOf(probe), setOf(reference), mode), 0, 0, 0, 0, 0);
    }
}

// Scores of one aligned minutia against one reference minutia.
AlignmentScore scoreOne(const Minutia& aligned, const Minutia& reference, int32_t mode) {
    return scoreAlignedSet(setOf({aligned}), setOf({reference}), mode);
}

TEST(ScoreAlignedSet, PairTestLimits) {
    struct Case {
        int32_t dx, dy, direction, pairs;
    } cases[] = {
        {9, 4, 0, 1},   {4, 9, 0, 1},   {8, 6, 0, 0},  {-8, -6, 0, 0}, {10, 0, 0, 0}, {0, -10, 0, 0},
        {-9, 0, 0, 1},  {0, 0, 9, 1},   {0, 0, 10, 0}, {0, 0, 351, 1}, {0, 0, 350, 0}, {7, 7, 0, 1},
    };
    const Minutia r = minutia(100, 100, 5, 1);
    for (const Case& c : cases) {
        Minutia a = minutia(100 + c.dx, 100 + c.dy, (5 + c.direction) % 360, 1);
        EXPECT_EQ(scoreOne(a, r, kFullSearch).pairCount, c.pairs) << c.dx << "," << c.dy << "," << c.direction;
    }
    // (9, 4): table distance 9, direction error 0: 20 - 9 = 11 -> 1 x 11 x 240 / 4.
    EXPECT_EQ(scoreOne(minutia(109, 104, 5, 1), r, kFullSearch).score, 660);
    // 359 against 5 differs by 6: 20 - 0 - 6 = 14.
    const AlignmentScore wrap = scoreOne(minutia(100, 100, 359, 1), r, kFullSearch);
    EXPECT_EQ(wrap.pairCount, 1);
    EXPECT_EQ(wrap.score, 14 * 60);
}

TEST(ScoreAlignedSet, DifferentKindsPairOnlyInTheFullSearch) {
    const Minutia r = minutia(100, 100, 0, 1);
    // e = 9, d = 9 adds nothing to the sum but counts.
    const AlignmentScore weak = scoreOne(minutia(109, 100, 9, 2), r, kFullSearch);
    EXPECT_EQ(weak.pairCount, 1);
    EXPECT_EQ(weak.score, 0);
    // e = 3, d = 5: (10 - 3) / 2 + (10 - 5) / 2 = 3 + 2 = 5.
    EXPECT_EQ(scoreOne(minutia(103, 104, 3, 2), r, kFullSearch).score, 5 * 60);
    EXPECT_EQ(scoreOne(minutia(103, 104, 3, 2), r, kQuickSearch).pairCount, 0);
}

TEST(ScoreAlignedSet, OneReferenceMinutiaPairsWithSeveralAlignedOnes) {
    // Reference 0 has two aligned candidates of its kind: both pair with it,
    // so reference 1 (whose only candidate is aligned 1) is left without.
    const MinutiaSet reference = setOf({minutia(100, 100, 0, 1), minutia(104, 100, 0, 1)});
    const MinutiaSet aligned = setOf({minutia(100, 100, 0, 1), minutia(105, 100, 0, 1)});
    const AlignmentScore s = scoreAlignedSet(aligned, reference, kFullSearch);
    EXPECT_EQ(s.pairCount, 2);
    // 20 + (20 - 5) = 35; 2 x 35 x 240 / 16.
    EXPECT_EQ(s.score, 2 * 35 * 240 / 16);
    // A reference minutia paired in phase 1 takes no part in phase 2.
    const MinutiaSet mixed = setOf({minutia(100, 100, 0, 1), minutia(103, 100, 0, 2)});
    const MinutiaSet ref2 = setOf({minutia(100, 100, 0, 1), minutia(150, 150, 0, 1)});
    EXPECT_EQ(scoreAlignedSet(mixed, ref2, kFullSearch).pairCount, 1);
}

TEST(RingOrientationsAgree, DifferenceOfEightPassesNineRejects) {
    const Minutia r = minutia(0, 0, 0, 1, 40, 80, 120);  // quantities 40, 40, 40, 80
    struct Case {
        int32_t r0, r1, r2;
        bool agree;
    } cases[] = {
        {40, 80, 120, true},  {48, 88, 128, true},    // only q0 moves, by 8
        {32, 80, 120, true},  {31, 80, 120, false},   // q0 32 against 40 passes; 31 fails (q1 49)
        {40, 88, 120, true},  {40, 89, 120, false},   // q1 48 passes, 49 fails
        {255, 88, 120, true},                         // ring 0 off: only q2 is compared (32 vs 40)
        {255, 89, 120, false},                        // 31 vs 40
        {255, 89, 255, true},                         // nothing comparable
        {40, 255, 129, false},                        // q3 89 against 80
        {40, 255, 128, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ringOrientationsAgree(minutia(5, 5, 0, 1, c.r0, c.r1, c.r2), r), c.agree)
            << c.r0 << " " << c.r1 << " " << c.r2;
        EXPECT_EQ(reference::ringsAgree(minutia(5, 5, 0, 1, c.r0, c.r1, c.r2), r), c.agree);
    }
    // 255 in the reference switches the comparison off too.
    EXPECT_TRUE(ringOrientationsAgree(minutia(5, 5, 0, 1, 0, 0, 0), minutia(0, 0, 0, 1, 255, 255, 255)));
    // The direction is read modulo 180 for the first quantity.
    EXPECT_TRUE(ringOrientationsAgree(minutia(5, 5, 200, 1, 60, 80, 120), minutia(0, 0, 20, 1, 60, 80, 120)));
}

TEST(MatchMinutiaSets, QuickSearchSkipsAnchorsWhoseRingsDisagree) {
    MinutiaSet probe = spreadSet(20);
    MinutiaSet reference = probe;
    // Reference 0's rings now disagree with those of every probe minutia of
    // its kind, so no anchor on reference 0 is scored; the search ends at the
    // eighth pair of the anchor reference 1 with probe 1.
    reference.minutiae[0].ringOrientation[0] = 120;
    for (int32_t p = 0; p < probe.count; ++p) {
        if (probe.minutiae[p].kind == reference.minutiae[0].kind) {
            EXPECT_FALSE(ringOrientationsAgree(probe.minutiae[p], reference.minutiae[0])) << p;
        }
    }
    const MatchResult r = matched(probe, reference, kQuickSearch);
    expectResult(r, 192, 0, 0, 0, 8);
    MatchResult slow;
    reference::match(probe, reference, slow, kQuickSearch);
    EXPECT_EQ(std::memcmp(&r, &slow, sizeof r), 0);
}

TEST(VerifyMatch, FlagLowByteChoosesTheSearch) {
    std::mt19937 rng(5);
    const synthetic::Finger f = synthetic::makeFinger(rng, 40);
    const MinutiaSet a = synthetic::impress(rng, f, synthetic::randomImpression(rng));
    const MinutiaSet b = synthetic::impress(rng, f, synthetic::randomImpression(rng));
    const MatchResult full = matched(a, b, kFullSearch);
    const MatchResult quick = matched(a, b, kQuickSearch);
    ASSERT_GE(full.matchedCount, 8);
    ASSERT_GE(quick.matchedCount, 8);
    ASSERT_NE(full.score, quick.score);
    const std::vector<uint8_t> ta = pack(a), tb = pack(b);
    struct Case {
        int32_t flag, expected;
    } cases[] = {{0, full.score}, {256, full.score}, {0x7F00, full.score}, {1, quick.score}, {257, quick.score},
                 {-1, quick.score}, {0x80, quick.score}};
    for (const Case& c : cases) {
        int32_t score = -1;
        EXPECT_EQ(VerifyMatch(ta.data(), tb.data(), &score, c.flag), 0);
        EXPECT_EQ(score, c.expected) << c.flag;
    }
}

TEST(VerifyMatch, FewerThanEightPairsReportZero) {
    // Identical sets of n minutiae: the best alignment has n pairs.
    for (int32_t n : {7, 8}) {
        const MinutiaSet s = spreadSet(n);
        const MatchResult r = matched(s, s, kFullSearch);
        ASSERT_EQ(r.matchedCount, n);
        ASSERT_GT(r.score, 0);
        const std::vector<uint8_t> t = pack(s);
        int32_t score = -1;
        EXPECT_EQ(VerifyMatch(t.data(), t.data(), &score, 0), 0);
        EXPECT_EQ(score, n == 7 ? 0 : r.score);
    }
}

TEST(VerifyMatch, DamagedTemplatesLeaveTheScoreUntouched) {
    const std::vector<uint8_t> good = pack(spreadSet(12));
    std::vector<uint8_t> damaged = good;
    damaged[10] ^= 0x40;
    std::vector<uint8_t> overlong = pack(spreadSet(12));
    overlong[2] = 61;  // count beyond 60
    const uint8_t* cases[][2] = {{good.data(), damaged.data()},   {damaged.data(), good.data()},
                                 {good.data(), overlong.data()},  {nullptr, good.data()},
                                 {good.data(), nullptr}};
    for (auto& c : cases) {
        int32_t score = 4242;
        EXPECT_EQ(VerifyMatch(c[0], c[1], &score, 0), ORVANE_E_BAD_TEMPLATE);
        EXPECT_EQ(score, 4242);
    }
    EXPECT_EQ(VerifyMatch(good.data(), good.data(), nullptr, 0), ORVANE_E_BAD_TEMPLATE);
    int32_t score = -5;
    const std::vector<uint8_t> empty = pack(MinutiaSet{});
    EXPECT_EQ(VerifyMatch(empty.data(), good.data(), &score, 0), 0);
    EXPECT_EQ(score, 0);
}

}  // namespace
}  // namespace orvane
