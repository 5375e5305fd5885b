// The anchor pair bounds of the search engine (anchor_bounds.h) against the
// plain transcription: for every anchor the pairs the transcription forms
// (align the probe, pair it) never exceed the bound, on realistic, dense, rim
// and off-frame sets.
#include "search/anchor_bounds.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "match/reference_matcher.h"
#include "support/synthetic_sets.h"
#include "core/numeric.h"

namespace orvane {
namespace {

using namespace match_internal;

// Two impressions of one synthetic finger: many pairs per anchor.
void genuinePair(std::mt19937& rng, MinutiaSet& probe, MinutiaSet& reference) {
    const synthetic::Finger f = synthetic::makeFinger(rng, synthetic::uniform(rng, 20, 60));
    probe = synthetic::impress(rng, f, synthetic::randomImpression(rng));
    reference = synthetic::impress(rng, f, synthetic::randomImpression(rng));
}

// Two sets of 1 to 60 minutiae anywhere in one box.
void randomPair(std::mt19937& rng, int32_t x, int32_t y, int32_t width, int32_t height, MinutiaSet& probe,
                MinutiaSet& reference) {
    probe = synthetic::randomSet(rng, synthetic::uniform(rng, 1, 60), x, y, width, height);
    reference = synthetic::randomSet(rng, synthetic::uniform(rng, 1, 60), x, y, width, height);
}

// What a search may need: every row exact, the 8 pairs of a reported score
// (most rows settled by their listed bounds), and more than any anchor can
// have (every row settled, bar those of crowded keys).
constexpr int32_t kNeededCases[] = {0, kReportedPairs, kMaxMinutiae + 1};

// The largest pair count of any anchor beyond its bound (0 or less: the
// bounds hold), over both search modes, both forms and the needed cases; also
// beyond the largest bound over the anchors.
int32_t worstExcess(const MinutiaSet& probe, const MinutiaSet& reference) {
    PreparedProbe prepared;
    prepareProbe(probe, prepared);
    search::AnchorBounds bounds;
    bounds.prepare(prepared);
    CompactMinutia records[kMaxMinutiae];
    const int32_t count = clampCount(reference.count);
    for (int32_t i = 0; i < count; ++i) records[i] = compactMinutia(reference.minutiae[i]);
    std::vector<std::vector<uint8_t>> rows;
    std::vector<int32_t> most;
    for (search::BoundsForm form : {search::BoundsForm::Fastest, search::BoundsForm::Portable}) {
        for (int32_t needed : kNeededCases) {
            rows.emplace_back(kMaxMinutiae * kAnchorBoundRow);
            most.push_back(bounds.anchorBounds(records, count, rows.back().data(), needed, form));
        }
    }
    int32_t worst = -1000;
    MinutiaSet aligned;
    for (int32_t r = 0; r < reference.count; ++r) {
        for (int32_t p = 0; p < probe.count; ++p) {
            const Minutia& a = probe.minutiae[p];
            const Minutia& b = reference.minutiae[r];
            reference::alignSet(probe, aligned, a, turnAngle(a.direction, b.direction), b.x - a.x, b.y - a.y);
            for (int32_t mode : {kFullSearch, kQuickSearch}) {
                int32_t pairs = 0;
                reference::scoreSet(aligned, reference, mode, pairs);
                const size_t at = static_cast<size_t>(r) * kAnchorBoundRow + static_cast<size_t>(p);
                // Anchors are pairs of the same kind (the bounds hold only for
                // them): their bounds and the largest are at least their pairs.
                if (a.kind != b.kind) continue;
                for (std::size_t c = 0; c < rows.size(); ++c) {
                    worst = std::max({worst, pairs - rows[c][at], pairs - most[c]});
                }
            }
        }
    }
    return worst;
}

TEST(AnchorBounds, NeverBelowThePairsOfTheTranscription) {
    std::mt19937 rng(8128);
    using synthetic::uniform;
    for (int trial = 0; trial < 60; ++trial) {
        // Realistic genuine pairs (many pairs per anchor), dense clusters
        // (several candidates per minutia), sets at the frame's corner (aligned
        // coordinates below 0, rounded up to 1.5 off) and whole-range sets.
        MinutiaSet probe, reference;
        switch (trial % 4) {
            case 0:
                genuinePair(rng, probe, reference);
                break;
            case 1:
                randomPair(rng, 100, 100, 40, 40, probe, reference);
                break;
            case 2:
                randomPair(rng, 0, 0, 30, 30, probe, reference);
                break;
            default:
                randomPair(rng, 0, 0, 1024, 1024, probe, reference);
        }
        // A third of the trials with four kinds: a probe whose minutiae are
        // not all of two kinds, and reference kinds the probe lacks.
        if (trial % 3 == 0) {
            for (MinutiaSet* set : {&probe, &reference}) {
                for (int32_t i = 0; i < set->count; ++i) set->minutiae[i].kind = uniform(rng, 0, 3);
            }
        }
        ASSERT_LE(worstExcess(probe, reference), 0) << "trial " << trial;
    }
}

// A second minutia at every offset around the rim of the pairing distance,
// turned by every direction step: the bound still counts it where it pairs.
TEST(AnchorBounds, HoldAtTheRimOfThePairingDistance) {
    for (int32_t turn = 0; turn < 360; turn += 7) {
        for (int32_t dy = -10; dy <= 10; dy += 2) {
            for (int32_t dx = -10; dx <= 10; ++dx) {
                MinutiaSet probe{}, reference{};
                probe.count = reference.count = 2;
                probe.minutiae[0] = Minutia{5, 3, 10, {255, 255, 255}, 1};
                probe.minutiae[1] = Minutia{45, 63, 200, {255, 255, 255}, 2};
                reference.minutiae[0] = Minutia{500, 400, normalDirection(10 + turn), {255, 255, 255}, 1};
                // Where the second probe minutia lands under the first anchor.
                MinutiaSet aligned;
                reference::alignSet(probe, aligned, probe.minutiae[0], turn, 495, 397);
                reference.minutiae[1] = aligned.minutiae[1];
                reference.minutiae[1].x += dx;
                reference.minutiae[1].y += dy;
                reference.minutiae[1].direction = normalDirection(aligned.minutiae[1].direction + dx % 10);
                ASSERT_LE(worstExcess(probe, reference), 0) << turn << " " << dx << "," << dy;
            }
        }
    }
}

// At the frame's corner aligned coordinates round up to 1.5 off: here the
// second pair's minutiae are more than the inner tolerance apart in the
// anchors' frames, in grid cells its zone's inner disk does not reach.
TEST(AnchorBounds, HoldWhereRoundingAtTheEdgeWidensTheTolerance) {
    MinutiaSet probe{}, reference{};
    probe.count = reference.count = 2;
    probe.minutiae[0] = Minutia{11, 22, 142, {255, 255, 255}, 1};
    probe.minutiae[1] = Minutia{4, 0, 122, {255, 255, 255}, 2};
    reference.minutiae[0] = Minutia{10, 17, 127, {255, 255, 255}, 1};
    reference.minutiae[1] = Minutia{6, 6, 114, {255, 255, 255}, 2};
    EXPECT_LE(worstExcess(probe, reference), 0);
}

// A probe of 60 minutiae in one spot with one direction: each anchor lists
// dozens of zones under one key, more than a key's listed word can count,
// while a reference of one to three minutiae there pairs with all of them.
TEST(AnchorBounds, HoldWhereOneKeyListsMoreZonesOfAnAnchorThanItCounts) {
    std::mt19937 rng(77);
    for (int32_t count = 1; count <= 3; ++count) {
        MinutiaSet probe = synthetic::randomSet(rng, 60, 300, 300, 4, 4);
        MinutiaSet reference = synthetic::randomSet(rng, count, 300, 300, 4, 4);
        for (int32_t i = 0; i < probe.count; ++i) probe.minutiae[i].direction = 90 + i % 3;
        for (int32_t i = 0; i < reference.count; ++i) reference.minutiae[i].direction = 91;
        ASSERT_LE(worstExcess(probe, reference), 0) << count << " reference minutiae";
    }
}

// The AVX-512 form of the bounds gives the portable form's rows and largest
// bound, for each needed case: on realistic pairs, on sets whose look-ups list
// hundreds of zones each (one spot, one direction: more candidates than the
// buffer holds), at the frame's corner, and with 0, 1 and 60 minutiae.
TEST(AnchorBounds, WideFormEqualsPortable) {
    if (!search::AnchorBounds::wideAvailable()) GTEST_SKIP() << "no AVX-512 on this processor";
    std::mt19937 rng(4096);
    using synthetic::uniform;
    auto clump = [&](int32_t count, int32_t direction) {
        MinutiaSet s = synthetic::randomSet(rng, count, 300, 300, 4, 4);
        for (int32_t i = 0; i < count; ++i) s.minutiae[i].direction = direction + (i % 3);
        return s;
    };
    for (int trial = 0; trial < 40; ++trial) {
        MinutiaSet probe, reference;
        switch (trial % 5) {
            case 0:
                genuinePair(rng, probe, reference);
                break;
            case 1:
                probe = clump(60, 90);
                reference = trial % 2 ? clump(60, 200) : clump(uniform(rng, 1, 60), 91);
                break;
            case 2:
                randomPair(rng, 0, 0, 30, 30, probe, reference);
                break;
            case 3:
                probe = synthetic::randomSet(rng, 60, 0, 0, 1024, 1024);
                reference = synthetic::randomSet(rng, trial % 2 ? 60 : uniform(rng, 0, 1), 0, 0, 1024, 1024);
                // Three kinds in the probe, one the probe lacks in the reference.
                for (int32_t i = 0; i < probe.count; i += 3) probe.minutiae[i].kind = 3;
                for (int32_t i = 0; i < reference.count; i += 4) reference.minutiae[i].kind = 5;
                break;
            default:
                randomPair(rng, 100, 100, 40, 40, probe, reference);
        }
        PreparedProbe prepared;
        prepareProbe(probe, prepared);
        search::AnchorBounds bounds;
        bounds.prepare(prepared);
        CompactMinutia records[kMaxMinutiae];
        for (int32_t i = 0; i < reference.count; ++i) records[i] = compactMinutia(reference.minutiae[i]);
        for (int32_t needed : kNeededCases) {
            std::vector<uint8_t> wide(kMaxMinutiae * kAnchorBoundRow, 0xAB), portable(wide);
            const int32_t wideMost = bounds.anchorBounds(records, reference.count, wide.data(), needed);
            const int32_t portableMost = bounds.anchorBounds(records, reference.count, portable.data(), needed,
                                                             search::BoundsForm::Portable);
            ASSERT_EQ(wideMost, portableMost) << "trial " << trial << ", needed " << needed;
            ASSERT_EQ(wide, portable) << "trial " << trial << ", needed " << needed;
        }
    }
}

}  // namespace
}  // namespace orvane
