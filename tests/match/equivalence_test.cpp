// The fast matcher against the direct transcription: equal MatchResults (and
// equal per-alignment scores) on random, dense, realistic and foreign inputs,
// in both search modes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "formats/feature_template.h"
#include "interface/extraction.h"
#include "match/align.h"
#include "match/match_internal.h"
#include "match/matcher.h"
#include "reference_matcher.h"
#include "support/test_support.h"
#include "support/synthetic_sets.h"
#include "core/numeric.h"

namespace orvane {
namespace {

using synthetic::uniform;

::testing::AssertionResult differs(const char* what, int32_t mode, const MinutiaSet& probe,
                                   const MinutiaSet& reference, const MatchResult& fast, const MatchResult& slow) {
    return ::testing::AssertionFailure() << what << " mode " << mode << " counts " << probe.count << "/"
                                         << reference.count << ": fast {" << fast.score << "," << fast.rotation << ","
                                         << fast.shiftX << "," << fast.shiftY << "," << fast.matchedCount
                                         << "} transcription {" << slow.score << "," << slow.rotation << ","
                                         << slow.shiftX << "," << slow.shiftY << "," << slow.matchedCount << "}";
}

using match_internal::LookUpPath;
constexpr LookUpPath kPaths[] = {LookUpPath::portable, LookUpPath::avx2, LookUpPath::avx512};

const char* pathName(LookUpPath path) {
    return path == LookUpPath::portable ? "portable" : (path == LookUpPath::avx2 ? "avx2" : "avx512");
}

// The score VerifyMatch reports for the transcription's result.
int32_t reportedOf(MatchResult slow, int32_t mode) {
    reference::adjust(slow, mode);
    return slow.matchedCount < 8 ? 0 : slow.score;
}

// matchMinutiaSets, the search on every look-up path this processor has, and
// the reported score VerifyMatch finds on each, against the transcription.
::testing::AssertionResult sameMatch(const MinutiaSet& probe, const MinutiaSet& reference) {
    for (int32_t mode : {kFullSearch, kQuickSearch}) {
        MatchResult slow{-2, -2, -2, -2, -2};
        reference::search(probe, reference, slow, mode);
        for (LookUpPath path : kPaths) {
            if (!match_internal::lookUpPathAvailable(path)) continue;
            MatchResult fast{-1, -1, -1, -1, -1};
            match_internal::searchWithPath(probe, reference, fast, mode, path);
            if (std::memcmp(&fast, &slow, sizeof fast) != 0) {
                return differs(pathName(path), mode, probe, reference, fast, slow);
            }
            const int32_t reported = match_internal::reportedWithPath(probe, reference, mode, path);
            if (reported != reportedOf(slow, mode)) {
                return ::testing::AssertionFailure() << "reported score on " << pathName(path) << " mode " << mode
                                                     << ": " << reported << ", transcription "
                                                     << reportedOf(slow, mode);
            }
        }
        reference::adjust(slow, mode);
        MatchResult fast{-1, -1, -1, -1, -1};
        matchMinutiaSets(probe, reference, fast, mode);
        if (std::memcmp(&fast, &slow, sizeof fast) != 0) return differs("match", mode, probe, reference, fast, slow);
    }
    return ::testing::AssertionSuccess();
}

// Random sets over areas from very dense (every anchor pairs many minutiae, a
// reference minutia often takes several aligned ones) to the whole 10-bit
// coordinate range.
TEST(MatcherEquivalence, RandomSetPairs) {
    for (LookUpPath path : kPaths) {
        if (!match_internal::lookUpPathAvailable(path)) std::printf("note: no %s path on this processor\n", pathName(path));
    }
    std::mt19937 rng(20240611);
    const int32_t areas[] = {24, 48, 96, 200, 480, 1024};
    int pairs = 0;
    for (int trial = 0; trial < 360; ++trial) {
        const int32_t area = areas[trial % 6];
        const MinutiaSet probe = synthetic::randomSet(rng, uniform(rng, 0, 60), 0, 0, area, area);
        MinutiaSet reference = synthetic::randomSet(rng, uniform(rng, 0, 60), 0, 0, area, area);
        if (trial % 5 == 0) {
            for (int32_t i = 0; i < reference.count; ++i) reference.minutiae[i].kind = uniform(rng, 0, 7);
        }
        ASSERT_TRUE(sameMatch(probe, reference)) << "trial " << trial;
        ++pairs;
    }
    RecordProperty("pairs", pairs);
}

// A second minutia at every offset around the rim of the pairing distance:
// under the anchor on the first minutia it pairs exactly when dx * dx + dy * dy
// is below 100.
TEST(MatcherEquivalence, PairingRimUnderTheSearch) {
    for (int32_t dy = -11; dy <= 11; ++dy) {
        for (int32_t dx = -11; dx <= 11; ++dx) {
            MinutiaSet probe{}, reference{};
            probe.count = reference.count = 2;
            probe.minutiae[0] = Minutia{300, 200, 10, {255, 255, 255}, 1};
            probe.minutiae[1] = Minutia{340, 260, 200, {255, 255, 255}, 2};
            reference.minutiae[0] = probe.minutiae[0];
            reference.minutiae[1] = probe.minutiae[1];
            reference.minutiae[1].x += dx;
            reference.minutiae[1].y += dy;
            ASSERT_TRUE(sameMatch(probe, reference)) << dx << "," << dy;
            MatchResult r;
            searchBestAlignment(probe, reference, r, kFullSearch);
            EXPECT_EQ(r.matchedCount, dx * dx + dy * dy < 100 ? 2 : 1) << dx << "," << dy;
        }
    }
}

// Sets made of a few minutiae repeated (and the probe a copy of the
// reference): many anchors tie on the best score, and the first must stay.
TEST(MatcherEquivalence, TiesAndRepeatedMinutiae) {
    std::mt19937 rng(99);
    for (int trial = 0; trial < 120; ++trial) {
        const MinutiaSet base = synthetic::randomSet(rng, uniform(rng, 1, 6), 100, 100, 60, 60);
        MinutiaSet reference{};
        reference.count = uniform(rng, 1, 60);
        for (int32_t i = 0; i < reference.count; ++i) reference.minutiae[i] = base.minutiae[uniform(rng, 0, base.count - 1)];
        MinutiaSet probe = reference;
        if (trial % 2) {
            probe.count = uniform(rng, 1, 60);
            for (int32_t i = 0; i < probe.count; ++i) probe.minutiae[i] = base.minutiae[uniform(rng, 0, base.count - 1)];
        }
        ASSERT_TRUE(sameMatch(probe, reference)) << "trial " << trial;
    }
}

// Two prints of one synthetic finger, and prints of different fingers.
TEST(MatcherEquivalence, RealisticGenuineAndImpostorPairs) {
    std::mt19937 rng(4711);
    const int32_t sizes[] = {30, 40, 50, 62};
    int genuine = 0, impostor = 0;
    for (int trial = 0; trial < 240; ++trial) {
        const int32_t size = sizes[trial % 4];
        const synthetic::Finger f = synthetic::makeFinger(rng, size);
        synthetic::Impression first = synthetic::randomImpression(rng);
        synthetic::Impression second = synthetic::randomImpression(rng);
        if (trial % 7 == 0) second.rotation = first.rotation + uniform(rng, -1, 1);  // turns of 0, 359, 1
        const MinutiaSet a = synthetic::impress(rng, f, first);
        const MinutiaSet b = synthetic::impress(rng, f, second);
        ASSERT_TRUE(sameMatch(a, b)) << "genuine " << trial;
        ++genuine;
        if (trial % 2 == 0) {
            const synthetic::Finger g = synthetic::makeFinger(rng, sizes[(trial / 2) % 4]);
            const MinutiaSet c = synthetic::impress(rng, g, synthetic::randomImpression(rng));
            ASSERT_TRUE(sameMatch(a, c)) << "impostor " << trial;
            ++impostor;
        }
    }
    RecordProperty("genuine", genuine);
    RecordProperty("impostor", impostor);
}

// Scoring of single alignments, including aligned sets carried to negative
// coordinates and beyond the frame.
TEST(MatcherEquivalence, ScoreOfOneAlignment) {
    std::mt19937 rng(31337);
    for (int trial = 0; trial < 4000; ++trial) {
        const int32_t area = trial % 3 == 0 ? 30 : (trial % 3 == 1 ? 120 : 640);
        const MinutiaSet probe = synthetic::randomSet(rng, uniform(rng, 1, 60), 0, 0, area, area);
        const MinutiaSet reference = synthetic::randomSet(rng, uniform(rng, 1, 60), 0, 0, area, area);
        const Minutia& p = probe.minutiae[uniform(rng, 0, probe.count - 1)];
        const Minutia& r = reference.minutiae[uniform(rng, 0, reference.count - 1)];
        const int32_t rotation = turnAngle(p.direction, r.direction);
        MinutiaSet aligned;
        alignMinutiaSet(probe, aligned, p, rotation, r.x - p.x, r.y - p.y);
        for (int32_t mode : {kFullSearch, kQuickSearch}) {
            int32_t count = -1;
            const int32_t score = reference::scoreSet(aligned, reference, mode, count);
            const AlignmentScore fast = scoreAlignedSet(aligned, reference, mode);
            ASSERT_EQ(fast.score, score) << trial << " mode " << mode;
            ASSERT_EQ(fast.pairCount, count) << trial << " mode " << mode;
        }
    }
}

// Foreign field values from well-formed templates of random bytes: they are
// read as the matcher documents (direction modulo 360, ring values outside
// 0..179 unavailable) and must score like those values do.
TEST(MatcherEquivalence, ForeignTemplateValues) {
    std::mt19937 rng(2718);
    for (int trial = 0; trial < 150; ++trial) {
        uint8_t t[2][kMaxTemplateBytes];
        MinutiaSet sets[2];
        for (int k = 0; k < 2; ++k) {
            const int32_t n = uniform(rng, 0, 60);
            const int32_t length = 7 * n + 4;
            t[k][0] = static_cast<uint8_t>(length >> 8);
            t[k][1] = static_cast<uint8_t>(length);
            t[k][2] = static_cast<uint8_t>(n);
            for (int32_t b = 3; b < length - 1; ++b) t[k][b] = static_cast<uint8_t>(uniform(rng, 0, 255));
            // Keep the positions close so that pairs form.
            for (int32_t i = 0; i < n && trial % 2; ++i) {
                t[k][3 + 7 * i] = static_cast<uint8_t>(uniform(rng, 20, 40));
                t[k][4 + 7 * i] = static_cast<uint8_t>((t[k][4 + 7 * i] & 0xC0) | uniform(rng, 5, 9));
            }
            t[k][length - 1] = templateChecksum(t[k], length - 1);
            ASSERT_EQ(unpackTemplate(t[k], &sets[k]), 0);
        }
        MinutiaSet normal[2] = {sets[0], sets[1]};
        for (MinutiaSet& s : normal) {
            for (int32_t i = 0; i < s.count; ++i) {
                Minutia& m = s.minutiae[i];
                m.direction %= 360;
                for (int32_t& r : m.ringOrientation) r = r < 180 ? r : 255;
            }
        }
        for (int32_t mode : {kFullSearch, kQuickSearch}) {
            MatchResult fast, slow;
            matchMinutiaSets(sets[0], sets[1], fast, mode);
            reference::match(normal[0], normal[1], slow, mode);
            ASSERT_EQ(std::memcmp(&fast, &slow, sizeof fast), 0) << trial << " mode " << mode;
            EXPECT_LE(fast.score, 1200);
            EXPECT_GE(fast.score, 0);
            int32_t score = -1;
            ASSERT_EQ(verifyTemplates(t[0], t[1], &score, mode == kQuickSearch ? 1 : 0), 0);
            EXPECT_EQ(score, slow.matchedCount < 8 ? 0 : slow.score);
        }
    }
}

// Two groups of exact copies under different shifts: group A (8 pairs) and
// group B (7 pairs), their direction errors chosen so that A's alignment
// scores below, equal to or above B's. The reported score is 0 unless the
// first best alignment has 8 pairs, and A's 8-pair score lies below
// scoreBound(7), so the reported search needs its second pass whenever A wins.
// The first of two equal alignments is the one whose reference group comes
// first.
TEST(MatcherEquivalence, BestAlignmentEitherSideOfEightPairs) {
    struct Case {
        const char* name;
        int32_t errorsA[8];  // signed direction errors of group A (its anchor first)
        int32_t errorsB[7];
        bool referenceAFirst;
        int32_t reportedFull;   // VerifyMatch in the full search
        int32_t reportedQuick;  // and in the quick search
    };
    // 15 + 15 minutiae: divisor 900; A: 8 * (160 - 41) = 952, B: 7 * (140 - 4) = 952
    // (score 253; 8 pairs scale down to 188).
    const Case cases[] = {
        {"tie, A first", {0, 6, -6, 6, -6, 6, -6, 5}, {0, 0, 0, 0, 0, 0, 4}, true, 188, 253},
        {"tie, B first", {0, 6, -6, 6, -6, 6, -6, 5}, {0, 0, 0, 0, 0, 0, 4}, false, 0, 0},
        {"B higher, A first", {0, 6, -6, 6, -6, 6, -6, 5}, {0, 0, 0, 0, 0, 0, 0}, true, 0, 253},
        {"B higher, B first", {0, 6, -6, 6, -6, 6, -6, 5}, {0, 0, 0, 0, 0, 0, 0}, false, 0, 0},
        {"A higher, B first", {0, 6, -6, 6, -6, 6, -6, 0}, {0, 0, 0, 0, 0, 0, 4}, false, 196, 264},
    };
    for (const Case& c : cases) {
        MinutiaSet probe{}, reference{};
        auto add = [](MinutiaSet& set, int32_t x, int32_t y, int32_t direction) {
            set.minutiae[set.count++] = Minutia{x, y, (direction + 360) % 360, {255, 255, 255}, 1};
        };
        for (int32_t group = 0; group < 2; ++group) {
            const bool a = (group == 0) == c.referenceAFirst;
            for (int32_t k = 0; k < (a ? 8 : 7); ++k) {
                add(reference, 100 + 40 * k, a ? 100 : 300, 37 * k + (a ? 0 : 11));
            }
        }
        for (int32_t k = 0; k < 8; ++k) add(probe, 113 + 40 * k, 107, 37 * k - c.errorsA[k]);
        for (int32_t k = 0; k < 7; ++k) add(probe, 79 + 40 * k, 319, 37 * k + 11 - c.errorsB[k]);
        ASSERT_TRUE(sameMatch(probe, reference)) << c.name;
        uint8_t t1[kMaxTemplateBytes], t2[kMaxTemplateBytes];
        packTemplate(&probe, t1);
        packTemplate(&reference, t2);
        int32_t full = -1, quick = -1;
        ASSERT_EQ(verifyTemplates(t1, t2, &full, 0), 0);
        ASSERT_EQ(verifyTemplates(t1, t2, &quick, 1), 0);
        EXPECT_EQ(full, c.reportedFull) << c.name;
        EXPECT_EQ(quick, c.reportedQuick) << c.name;
    }
}

// The reference turned and shifted into the probe, with every minutia then
// moved by up to 12 pixels and 12 degrees: many aligned minutiae land on the
// rim of the pairing reach after rounding, where the coarse tests must not
// lose one.
TEST(MatcherEquivalence, TurnedCopiesOnTheRimOfTheReach) {
    std::mt19937 rng(8086);
    for (int trial = 0; trial < 160; ++trial) {
        const int32_t count = uniform(rng, 8, 40);
        const int32_t area = trial % 2 ? 300 : 120;
        const MinutiaSet reference = synthetic::randomSet(rng, count, 300, 300, area, area);
        const int32_t turn = uniform(rng, 0, 359);
        const double t = turn * 0.017453292519943295, c = std::cos(t), s = std::sin(t);
        const Minutia& centre = reference.minutiae[0];
        MinutiaSet probe = reference;
        for (int32_t i = 0; i < count; ++i) {
            Minutia& m = probe.minutiae[i];
            const double u = reference.minutiae[i].x - centre.x, v = reference.minutiae[i].y - centre.y;
            const int32_t reach = i % 3 == 0 ? 0 : 12;
            m.x = 500 + static_cast<int32_t>(std::lround(u * c + v * s)) + uniform(rng, -reach, reach);
            m.y = 500 + static_cast<int32_t>(std::lround(v * c - u * s)) + uniform(rng, -reach, reach);
            m.direction = ((reference.minutiae[i].direction - turn + uniform(rng, -reach, reach)) % 360 + 360) % 360;
        }
        ASSERT_TRUE(sameMatch(probe, reference)) << "trial " << trial;
    }
}

// The first test of every path keeps every aligned minutia within reach of a
// reference minutia, on every anchor: sets near the origin (aligned
// coordinates below zero round differently) and spread ones, so that many
// unrounded coordinates fall just beside a cell border.
TEST(MatcherEquivalence, CandidatesHoldEveryMinutiaWithinReach) {
    std::mt19937 rng(4242);
    int64_t withinReach = 0;
    for (int trial = 0; trial < 60; ++trial) {
        const int32_t area = trial % 3 == 0 ? 40 : (trial % 3 == 1 ? 160 : 1024);
        const MinutiaSet probe = synthetic::randomSet(rng, uniform(rng, 1, 60), 0, 0, area, area);
        const MinutiaSet reference = synthetic::randomSet(rng, uniform(rng, 1, 60), 0, 0, area, area);
        match_internal::PreparedProbe preparedProbe;
        match_internal::prepareProbe(probe, preparedProbe);
        auto preparedReference = std::make_unique<match_internal::PreparedReference>();
        match_internal::prepareReference(reference, *preparedReference);
        for (int32_t r = 0; r < reference.count; ++r) {
            for (int32_t p = 0; p < probe.count; ++p) {
                const Minutia& a = probe.minutiae[p];
                const Minutia& b = reference.minutiae[r];
                MinutiaSet aligned;
                alignMinutiaSet(probe, aligned, a, turnAngle(a.direction, b.direction), b.x - a.x, b.y - a.y);
                uint64_t needed = 0;
                for (int32_t j = 0; j < probe.count; ++j) {
                    const Minutia& m = aligned.minutiae[j];
                    if (match_internal::nearReference(*preparedReference, m.x, m.y, m.direction, false)) {
                        needed |= uint64_t{1} << j;
                    }
                }
                withinReach += __builtin_popcountll(needed);
                for (LookUpPath path : kPaths) {
                    if (!match_internal::lookUpPathAvailable(path)) continue;
                    const uint64_t kept = match_internal::anchorCandidates(preparedProbe, *preparedReference, p, r, path);
                    ASSERT_EQ(needed & ~kept, 0u) << pathName(path) << " trial " << trial << " anchor " << r << "," << p;
                }
            }
        }
    }
    RecordProperty("withinReach", static_cast<int>(withinReach));
}

// Sets at the ends of the index: none or one minutia, 60 minutiae over the
// whole coordinate range (the coarsest grid), 60 on one point, points on the
// borders.
TEST(MatcherEquivalence, SetsAtTheEndsOfTheIndex) {
    std::mt19937 rng(1023);
    const MinutiaSet empty = synthetic::emptySet();
    const MinutiaSet one = synthetic::randomSet(rng, 1, 0, 0, 1024, 1024);
    const MinutiaSet wide60 = synthetic::randomSet(rng, 60, 0, 0, 1024, 1024);
    MinutiaSet corners = wide60;
    for (int32_t i = 0; i < 60; ++i) {
        corners.minutiae[i].x = i % 2 ? 1023 : 0;
        corners.minutiae[i].y = i % 4 < 2 ? 1023 : uniform(rng, 0, 9);
    }
    MinutiaSet point = wide60;
    for (int32_t i = 0; i < 60; ++i) point.minutiae[i].x = point.minutiae[i].y = 512;
    MinutiaSet dense = synthetic::randomSet(rng, 60, 200, 200, 30, 30);
    const MinutiaSet* sets[] = {&empty, &one, &wide60, &corners, &point, &dense};
    for (const MinutiaSet* a : sets) {
        for (const MinutiaSet* b : sets) ASSERT_TRUE(sameMatch(*a, *b)) << a->count << " " << b->count;
    }
}

}  // namespace
}  // namespace orvane

namespace orvane {
namespace {

// Templates extracted from real prints (skipped without the data folder):
// every pair among the impressions of two fingers per database.
// Set ORVANE_MATCH_ALL_REAL_PAIRS=1 to compare every ordered pair of all the
// real prints (minutes; run by hand), not only those of two fingers per
// database.
TEST(MatcherEquivalence, RealPrintPairs) {
    const bool allPairs = std::getenv("ORVANE_MATCH_ALL_REAL_PAIRS") != nullptr;
    std::vector<MinutiaSet> sets;
    std::unique_ptr<Workspace> ws = test::makeWorkspace();
    for (const std::string& path : test::realPrints()) {
        const std::string name = path.substr(path.find_last_of('/') + 1);
        if (!allPairs && name.compare(0, 4, "101_") != 0 && name.compare(0, 4, "102_") != 0) continue;
        uint8_t t[kMaxTemplateBytes];
        int32_t length = 0;
        if (extractTemplateFromFile(*ws, path.c_str(), t, &length, nullptr) != 0) continue;
        MinutiaSet s;
        ASSERT_EQ(unpackTemplate(t, &s), 0);
        sets.push_back(s);
    }
    if (sets.size() < 2) GTEST_SKIP() << "no real prints";
    int pairs = 0;
    const size_t stepA = allPairs ? 1 : 4, stepB = allPairs ? 1 : 5, firstB = allPairs ? 0 : 1;
    for (size_t a = 0; a < sets.size(); a += stepA) {
        for (size_t b = firstB; b < sets.size(); b += stepB) {
            if (a == b) continue;
            ASSERT_TRUE(sameMatch(sets[a], sets[b])) << a << " " << b;
            ++pairs;
        }
    }
    // A print against itself and against a copy with one minutia moved: the
    // full search meets anchors that no later one can beat, and ends early.
    for (size_t a = 0; a < sets.size(); a += 7) {
        ASSERT_TRUE(sameMatch(sets[a], sets[a])) << a;
        MinutiaSet moved = sets[a];
        if (moved.count > 0) moved.minutiae[moved.count / 2].x += 3;
        ASSERT_TRUE(sameMatch(sets[a], moved)) << a << " moved";
        pairs += 2;
    }
    std::printf("%zu prints, %d pairs\n", sets.size(), pairs);
    RecordProperty("pairs", pairs);
}

}  // namespace
}  // namespace orvane
