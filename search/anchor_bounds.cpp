#include "search/anchor_bounds.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "core/simd.h"

namespace orvane::search {

using namespace match_internal;

namespace {

// Local offsets are compared in fixed point, 1/16 of a unit (truncated, so at
// most 1/16 off per axis on each side: sqrt(2) / 8 < 0.18 in distance).
constexpr double kFixedScale = 16.0;
constexpr double kFixedAllowance = 0.18;
// A reference's offsets are computed in single precision (localOffsetSingle):
// the cosine and sine rounded to float (relative error 2^-24), each product
// rounded (at most 1023 in size) and their sum (at most 1447) make each axis
// less than 3.3e-4 off the exact value, 4.7e-4 in distance.
constexpr double kSingleAllowance = 5e-4;
// Largest distance of a pair (sqrt(98) rounded up), the rounding of aligned
// coordinates away from and near the low edges (0.5 and 1.5 times sqrt(2),
// rounded up), and the allowance for the turn table and fixed point.
constexpr double kPairDistance = 9.8995;
constexpr double kInnerTolerance = kPairDistance + 0.7072 + kFixedAllowance + 1e-3 + kSingleAllowance;
constexpr double kEdgeTolerance = kPairDistance + 2.1214 + kFixedAllowance + 1e-3 + kSingleAllowance;
// Squared tolerances in fixed point, rounded up.
constexpr int32_t squaredLimit(double tolerance) {
    return static_cast<int32_t>(tolerance * kFixedScale * tolerance * kFixedScale) + 1;
}
constexpr int32_t kInnerLimit = squaredLimit(kInnerTolerance);
constexpr int32_t kEdgeLimit = squaredLimit(kEdgeTolerance);
constexpr int32_t kEdgeReach = static_cast<int32_t>(kEdgeTolerance * kFixedScale) + 1;  // > sqrt(kEdgeLimit)
// Reference minutiae with both coordinates at least this pair only with
// aligned coordinates of 1 or more.
constexpr int32_t kInnerFrom = kPairLimit;

constexpr int32_t kCellShift = 7;  // grid cell side: 128 fixed-point steps, 8 units
constexpr int32_t kTurnBinWidth = 10;  // degrees per relative-direction bin
constexpr int32_t kTurnBins = 360 / kTurnBinWidth;
static_assert(360 % kTurnBinWidth == 0, "bins tile the turn");
static_assert(kTurnBinWidth == 10, "turnBin divides by 10");
// turn / 10 for turns 0..359 (exact below 1029).
inline uint32_t turnBin(int32_t turn) { return (static_cast<uint32_t>(turn) * 205u) >> 11; }

// Zone indices fit kZoneBits: a zone's disk spans at most kMostCells cells
// per axis and its directions at most three bins.
constexpr int32_t kZoneBits = 19;
constexpr uint32_t kZoneMask = (1u << kZoneBits) - 1;
constexpr int32_t kMostCells = 2 * kEdgeReach / (1 << kCellShift) + 2;
static_assert(kMaxMinutiae * (kMaxMinutiae - 1) * kMostCells * kMostCells * 3 < (1 << kZoneBits), "zones and their end fit");
// A key's word: its first zone in the low kFirstBits, the number of its zones
// whose anchor has the probe's first kind above (a key lists each (p, j) at
// most once).
constexpr int32_t kFirstBits = 20;
constexpr uint32_t kFirstMask = (1u << kFirstBits) - 1;
static_assert(kZoneBits <= kFirstBits && kMaxMinutiae * (kMaxMinutiae - 1) < (1 << (32 - kFirstBits)), "key words");

// A key's listed word (listed_): bit p for each anchor p whose zones it
// lists, the most zones of any one p in the bits from kListedCountShift; its
// largest value means that many or more, which leaves the rows of every r
// that looks it up exact.
constexpr int32_t kListedCountShift = 60;
constexpr uint64_t kListedAnchors = (uint64_t{1} << kListedCountShift) - 1;
constexpr uint32_t kListedCountMost = 15;
static_assert(kMaxMinutiae <= kListedCountShift, "anchors fit below the count");

// Candidates gathered before they are tested, and room for one more wide
// store past them.
constexpr int32_t kCandidateBuffer = 1024;
constexpr int32_t kCandidateSlack = 16;
constexpr uint32_t kPortableRun = 4;
static_assert(kPortableRun <= kCandidateSlack, "a run fits the slack");

// An offset in fixed point (each axis fits 16 bits: see localOffset) as x in
// the low half, y in the high half.
inline uint32_t packOffset(int32_t x, int32_t y) {
    return (static_cast<uint32_t>(x) & 0xFFFFu) | static_cast<uint32_t>(y) << 16;
}

// The offset of (x, y) from an anchor at (ax, ay) in the anchor's own frame
// (turned by minus its direction, cosine c, sine s), in fixed point. Offsets
// are below 1450 in size, so they fit 16 bits.
inline void localOffset(double ax, double ay, double c, double s, double x, double y, int32_t& lx, int32_t& ly) {
    const double dx = x - ax;
    const double dy = y - ay;
    lx = static_cast<int32_t>((dx * c + dy * s) * kFixedScale);
    ly = static_cast<int32_t>((dy * c - dx * s) * kFixedScale);
}

// The same for a reference, in single precision: c16 and s16 are the cosine
// and sine rounded to float times kFixedScale (exact), coordinates are whole.
inline void localOffsetSingle(float ax, float ay, float c16, float s16, float x, float y, int32_t& lx, int32_t& ly) {
    const float dx = x - ax;
    const float dy = y - ay;
    lx = static_cast<int32_t>(dx * c16 + dy * s16);
    ly = static_cast<int32_t>(dy * c16 - dx * s16);
}

// The cosine and sine of a reference minutia's turn for localOffsetSingle.
inline void singleCosSin(int32_t direction, float& c16, float& s16) {
    double c = 0.0, s = 0.0;
    rotationCosSin(direction, c, s);
    c16 = static_cast<float>(c) * static_cast<float>(kFixedScale);
    s16 = static_cast<float>(s) * static_cast<float>(kFixedScale);
}

}  // namespace

void AnchorBounds::prepare(const PreparedProbe& probe) {
    const int32_t n = probe.count;
    probeCount_ = n;
    std::copy(probe.kind, probe.kind + kMaxMinutiae, kind_);
    struct Local {
        int32_t x, y, turn;
    };
    std::vector<Local> local(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
    int32_t minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (int32_t p = 0; p < n; ++p) {
        double c = 0.0, s = 0.0;
        rotationCosSin(probe.direction[p], c, s);
        for (int32_t j = 0; j < n; ++j) {
            Local& l = local[static_cast<std::size_t>(p * n + j)];
            localOffset(probe.xd[p], probe.yd[p], c, s, probe.xd[j], probe.yd[j], l.x, l.y);
            l.turn = normalDirection(probe.direction[j] - probe.direction[p]);
            minX = std::min(minX, l.x), maxX = std::max(maxX, l.x);
            minY = std::min(minY, l.y), maxY = std::max(maxY, l.y);
        }
    }
    originX_ = minX - kEdgeReach;
    originY_ = minY - kEdgeReach;
    width_ = ((maxX + kEdgeReach - originX_) >> kCellShift) + 1;
    height_ = ((maxY + kEdgeReach - originY_) >> kCellShift) + 1;
    const std::size_t keys = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * kTurnBins;

    // The keys of every cell the zone's disk meets, in the bins of its
    // relative directions (from turn - kReach to turn + kReach, around).
    auto forEachKey = [&](const Local& l, auto&& visit) {
        const int32_t x0 = (l.x - kEdgeReach - originX_) >> kCellShift, x1 = (l.x + kEdgeReach - originX_) >> kCellShift;
        const int32_t y0 = (l.y - kEdgeReach - originY_) >> kCellShift, y1 = (l.y + kEdgeReach - originY_) >> kCellShift;
        const int32_t bin0 = normalDirection(l.turn - kReach) / kTurnBinWidth;
        const int32_t bin1 = normalDirection(l.turn + kReach) / kTurnBinWidth;
        for (int32_t cy = y0; cy <= y1; ++cy) {
            const int32_t top = originY_ + (cy << kCellShift), bottom = top + (1 << kCellShift) - 1;
            const int64_t dy = std::max({top - l.y, 0, l.y - bottom});
            for (int32_t cx = x0; cx <= x1; ++cx) {
                const int32_t left = originX_ + (cx << kCellShift), right = left + (1 << kCellShift) - 1;
                const int64_t dx = std::max({left - l.x, 0, l.x - right});
                if (dx * dx + dy * dy >= kEdgeLimit) continue;
                const std::size_t cell = (static_cast<std::size_t>(cy) * static_cast<std::size_t>(width_) +
                                          static_cast<std::size_t>(cx)) * kTurnBins;
                for (int32_t bin = bin0;; bin = bin + 1 == kTurnBins ? 0 : bin + 1) {
                    visit(cell + static_cast<std::size_t>(bin));
                    if (bin == bin1) break;
                }
            }
        }
    };
    // Each anchor's own p is counted from the start (see anchorBounds): it is
    // not listed. A key lists the zones of anchors of firstKind_ first.
    firstKind_ = n > 0 ? probe.kind[0] : 0;
    std::fill(std::begin(kindPresent_), std::end(kindPresent_), false);
    for (int32_t p = 0; p < n; ++p) {
        if (probe.kind[p] >= 0 && probe.kind[p] < 256) kindPresent_[probe.kind[p]] = true;
    }
    std::vector<uint32_t> first(keys + 2, 0);
    std::vector<uint16_t> firstKindZones(keys, 0);
    for (int32_t p = 0; p < n; ++p) {
        for (int32_t j = 0; j < n; ++j) {
            if (j == p) continue;
            forEachKey(local[static_cast<std::size_t>(p * n + j)], [&](std::size_t key) {
                ++first[key + 1];
                firstKindZones[key] = static_cast<uint16_t>(firstKindZones[key] + (probe.kind[p] == firstKind_));
            });
        }
    }
    for (std::size_t k = 0; k < keys; ++k) first[k + 1] += first[k];
    first[keys + 1] = first[keys];  // key `keys` is empty
    starts_.resize(keys + 2);
    for (std::size_t k = 0; k < keys + 2; ++k) {
        starts_[k] = first[k] | (k < keys ? static_cast<uint32_t>(firstKindZones[k]) << kFirstBits : 0);
    }
    zones_.assign(2 * static_cast<std::size_t>(first[keys]), 0);
    std::vector<uint32_t> fill(keys + 1);
    for (std::size_t k = 0; k < keys; ++k) {
        fill[k] = first[k];                     // the first kind's zones
        first[k] += firstKindZones[k];          // then the others'
    }
    for (int32_t p = 0; p < n; ++p) {
        for (int32_t j = 0; j < n; ++j) {
            if (j == p) continue;
            const Local& l = local[static_cast<std::size_t>(p * n + j)];
            const uint32_t offset = packOffset(l.x, l.y);
            const uint32_t label = static_cast<uint32_t>(p) | static_cast<uint32_t>(j) << 8 |
                                   static_cast<uint32_t>(l.turn) << 16;
            std::vector<uint32_t>& at = probe.kind[p] == firstKind_ ? fill : first;
            forEachKey(l, [&](std::size_t key) {
                zones_[2 * at[key]] = offset;
                zones_[2 * at[key]++ + 1] = label;
            });
        }
    }
    // Per key, the anchors it lists zones of and the most zones of one.
    listed_.assign(keys + 2, 0);
    uint32_t zonesOf[kPaddedMinutiae] = {};
    for (std::size_t k = 0; k < keys; ++k) {
        const uint32_t from = starts_[k] & kFirstMask, to = starts_[k + 1] & kFirstMask;
        uint64_t anchors = 0;
        uint32_t most = 0;
        for (uint32_t z = from; z < to; ++z) {
            const uint32_t p = zones_[2 * z + 1] & 0xFF;
            anchors |= uint64_t{1} << p;
            most = std::max(most, ++zonesOf[p]);
        }
        for (uint32_t z = from; z < to; ++z) zonesOf[zones_[2 * z + 1] & 0xFF] = 0;
        listed_[k] = anchors | static_cast<uint64_t>(std::min(most, kListedCountMost)) << kListedCountShift;
    }
}

// One reference set as the look-ups read it, padded to kPaddedMinutiae.
struct BoundsEntry {
    int32_t count;
    float x[kPaddedMinutiae], y[kPaddedMinutiae];
    int32_t direction[kPaddedMinutiae];
    int32_t nearEdge[kPaddedMinutiae];  // 1 where i's pairs have the wider tolerance (see kInnerFrom)
    int32_t kind[kPaddedMinutiae];
};

// A candidate (zone, reference minutia i) as the test reads it: the zone with
// i's turn and tolerance (candidateWord), and i's offset (packOffset).
struct BoundsCandidates {
    uint32_t zone[kCandidateBuffer + kCandidateSlack];
    uint32_t offset[kCandidateBuffer + kCandidateSlack];
    uint16_t passed[kCandidateBuffer + kCandidateSlack];  // labels' low half: anchor p, minutia j
    int32_t count = 0;
    // The look-ups (r, i) at r * kPaddedMinutiae + i: the candidate words of
    // the first zone and of the end, and the offset.
    uint32_t lookFirst[kMaxMinutiae * kPaddedMinutiae];
    uint32_t lookEnd[kMaxMinutiae * kPaddedMinutiae];
    uint32_t lookOffset[kMaxMinutiae * kPaddedMinutiae];
};

namespace {

using Entry = BoundsEntry;
using Candidates = BoundsCandidates;

void fillEntry(const CompactMinutia* ref, int32_t count, Entry& e) {
    e.count = count;
    for (int32_t i = 0; i < kPaddedMinutiae; ++i) {
        const bool real = i < count;
        e.x[i] = real ? ref[i].x : 0.0f;
        e.y[i] = real ? ref[i].y : 0.0f;
        e.direction[i] = real ? ref[i].direction : 0;
        e.nearEdge[i] = real && ref[i].x >= kInnerFrom && ref[i].y >= kInnerFrom ? 0 : 1;
        e.kind[i] = real ? ref[i].kind : 0;
    }
}

// The zone index with the turn of i above it and whether i is near the edge
// on top. Consecutive zones of a key have consecutive words.
inline uint32_t candidateWord(uint32_t zone, int32_t turn, int32_t nearEdge) {
    return zone | static_cast<uint32_t>(turn) << kZoneBits | static_cast<uint32_t>(nearEdge) << (kZoneBits + 9);
}

// Whether a candidate passes: relative directions at most kReach apart
// (around the circle) and offsets closer than the tolerance.
inline bool passes(uint32_t zoneOffset, uint32_t zoneLabel, uint32_t offset, uint32_t word) {
    const int32_t limit = word >> (kZoneBits + 9) ? kEdgeLimit : kInnerLimit;
    int32_t d = static_cast<int32_t>((word >> kZoneBits) & 511) - static_cast<int32_t>(zoneLabel >> 16) + 360 + kReach;
    d -= d >= 360 ? 360 : 0;  // 10..728 before
    d -= d >= 360 ? 360 : 0;
    const int32_t dx = static_cast<int16_t>(offset & 0xFFFF) - static_cast<int16_t>(zoneOffset & 0xFFFF);
    const int32_t dy = static_cast<int16_t>(offset >> 16) - static_cast<int16_t>(zoneOffset >> 16);
    return (d <= 2 * kReach) & (dx * dx + dy * dy < limit);
}

// For each passed label, sets bit j of taken[p] and counts it in row[p] if
// it is new. Rows start at 1: every anchor's own p is counted (it may pair
// with r); r itself is looked up too, as other probe minutiae near p may pair
// with it.
inline void takePassed(const Candidates& c, int32_t passed, uint64_t* taken, uint8_t* row) {
    for (int32_t k = 0; k < passed; ++k) {
        const uint32_t p = c.passed[k] & 0xFF;
        const uint64_t bit = uint64_t{1} << (c.passed[k] >> 8);
        const uint64_t t = taken[p];
        taken[p] = t | bit;
        row[p] = static_cast<uint8_t>(row[p] + ((t & bit) == 0));
    }
}

}  // namespace

int32_t AnchorBounds::anchorBounds(const CompactMinutia* ref, int32_t count, uint8_t* rows, int32_t needed,
                                   BoundsForm form) const {
    const int32_t nR = clampCount(count);
    if (probeCount_ == 0 || nR == 0) return 0;
    Entry entry;
    fillEntry(ref, nR, entry);
    Candidates candidates;
#if ORVANE_AVX2_DISPATCH
    if (form == BoundsForm::Fastest && wideAvailable()) return boundsWide(entry, candidates, rows, needed);
#endif
    return boundsPortable(entry, candidates, rows, form == BoundsForm::Portable ? needed : 0);
}

// The listed bounds of every r first, kept where they settle it; then for the
// other r the candidates: every zone listed under the key of each (r, i),
// tested after all are gathered, so that no loop runs over a single key's few
// zones (their number is unpredictable).
int32_t AnchorBounds::boundsPortable(const BoundsEntry& e, BoundsCandidates& c, uint8_t* rows,
                                     int32_t needed) const {
    const int32_t nR = e.count;
    const uint32_t width = static_cast<uint32_t>(width_), height = static_cast<uint32_t>(height_);
    const uint32_t emptyKey = static_cast<uint32_t>(starts_.size() - 2);
    const uint32_t* starts = starts_.data();
    const uint32_t* zones = zones_.data();
    // The look-ups miss the cache: their keys, then their zone ranges, are
    // all found first, with prefetches, so that the misses overlap.
    for (int32_t r = 0; r < nR; ++r) {
        if (!probeHasKind(e.kind[r])) continue;
        float cr = 0.0f, sr = 0.0f;
        singleCosSin(e.direction[r], cr, sr);
        for (int32_t i = 0; i < nR; ++i) {
            const int32_t at = r * kPaddedMinutiae + i;
            int32_t lx = 0, ly = 0;
            localOffsetSingle(e.x[r], e.y[r], cr, sr, e.x[i], e.y[i], lx, ly);
            const int32_t d = e.direction[i] - e.direction[r];
            const int32_t turn = d < 0 ? d + 360 : d;
            // Cells outside the grid (negative differences wrap to large
            // values) hold no probe offset.
            const uint32_t cx = static_cast<uint32_t>(lx - originX_) >> kCellShift;
            const uint32_t cy = static_cast<uint32_t>(ly - originY_) >> kCellShift;
            const uint32_t key = cx < width && cy < height ? (cy * width + cx) * kTurnBins + turnBin(turn) : emptyKey;
            if (needed > 1) {
                __builtin_prefetch(listed_.data() + key);
            } else {
                __builtin_prefetch(starts + key);
            }
            c.lookFirst[at] = key;
            c.lookEnd[at] = candidateWord(0, turn, e.nearEdge[i]);
            c.lookOffset[at] = packOffset(lx, ly);
        }
    }
    int32_t most = 0;
    bool exact[kMaxMinutiae];
    for (int32_t r = 0; r < nR; ++r) {
        uint8_t* row = rows + static_cast<std::size_t>(r) * kAnchorBoundRow;
        std::memset(row, 1, kAnchorBoundRow);
        exact[r] = false;
        if (!probeHasKind(e.kind[r])) continue;
        exact[r] = true;
        if (needed <= 1) continue;  // every anchor may reach it
        // Only the counts of r's kind are read.
        uint64_t kindOfR = 0;
        for (int32_t p = 0; p < clampCount(probeCount_); ++p) {
            kindOfR |= static_cast<uint64_t>(kind_[p] == e.kind[r]) << p;
        }
        uint32_t listedCount[kPaddedMinutiae] = {};
        bool crowded = false;
        for (int32_t i = 0; i < nR; ++i) {
            const uint64_t word = listed_[c.lookFirst[r * kPaddedMinutiae + i]];
            const uint32_t zonesOfOne = static_cast<uint32_t>(word >> kListedCountShift);
            crowded |= zonesOfOne == kListedCountMost;
            for (uint64_t m = word & kindOfR; m; m &= m - 1) listedCount[countTrailingZeros(m)] += zonesOfOne;
        }
        auto bound = [&](int32_t p) { return std::min<uint32_t>(255, 1 + listedCount[p]); };
        exact[r] = crowded;
        for (uint64_t m = kindOfR; m; m &= m - 1) {
            if (bound(countTrailingZeros(m)) >= static_cast<uint32_t>(needed)) exact[r] = true;
        }
        if (exact[r]) continue;
        for (uint64_t m = kindOfR; m; m &= m - 1) {
            const int32_t p = countTrailingZeros(m);
            row[p] = static_cast<uint8_t>(bound(p));
            most = std::max<int32_t>(most, row[p]);
        }
    }
    for (int32_t r = 0; r < nR; ++r) {
        if (!exact[r]) continue;
        const bool firstKindRow = e.kind[r] == firstKind_;
        for (int32_t i = 0; i < nR; ++i) {
            const int32_t at = r * kPaddedMinutiae + i;
            const uint32_t key = c.lookFirst[at], turnEdge = c.lookEnd[at];
            const uint32_t first = starts[key] & kFirstMask;
            const uint32_t split = first + (starts[key] >> kFirstBits), end = starts[key + 1] & kFirstMask;
            const uint32_t from = firstKindRow ? first : split, to = firstKindRow ? split : end;
            __builtin_prefetch(zones + 2 * from);
            c.lookFirst[at] = from | turnEdge;
            c.lookEnd[at] = to | turnEdge;
        }
    }
    for (int32_t r = 0; r < nR; ++r) {
        if (!exact[r]) continue;
        uint64_t taken[kMaxMinutiae] = {};
        uint8_t* row = rows + static_cast<std::size_t>(r) * kAnchorBoundRow;
        auto testCandidates = [&] {
            int32_t passed = 0;
            for (int32_t k = 0; k < c.count; ++k) {
                const uint32_t* zone = zones + 2 * (c.zone[k] & kZoneMask);
                c.passed[passed] = static_cast<uint16_t>(zone[1]);
                passed += passes(zone[0], zone[1], c.offset[k], c.zone[k]);
            }
            takePassed(c, passed, taken, row);
            c.count = 0;
        };
        // Each look-up's zones become candidates: kPortableRun at a time
        // (written whole, kept as many as listed) where that covers them, so
        // that no loop runs over a key's few zones, whose number is
        // unpredictable.
        for (int32_t i = 0; i < nR; ++i) {
            const int32_t at = r * kPaddedMinutiae + i;
            const uint32_t word = c.lookFirst[at], listed = c.lookEnd[at] - word, offset = c.lookOffset[at];
            if (c.count + static_cast<int32_t>(listed) > kCandidateBuffer) testCandidates();
            if (listed <= kPortableRun) {
                for (uint32_t k = 0; k < kPortableRun; ++k) {
                    c.zone[c.count + static_cast<int32_t>(k)] = word + k;
                    c.offset[c.count + static_cast<int32_t>(k)] = offset;
                }
                c.count += static_cast<int32_t>(listed);
            } else {
                for (uint32_t k = 0; k < listed; ++k) {
                    if (c.count == kCandidateBuffer) testCandidates();
                    c.zone[c.count] = word + k;
                    c.offset[c.count++] = offset;
                }
            }
        }
        testCandidates();
        for (int32_t p = 0; p < probeCount_; ++p) {
            if (kind_[p] == e.kind[r]) most = std::max<int32_t>(most, row[p]);
        }
    }
    return most;
}

#if ORVANE_AVX2_DISPATCH

#define ORVANE_TARGET_WIDE_BOUNDS __attribute__((target("avx512f,avx512bw")))

// GCC's AVX-512 conversions start from an undefined register, which its own
// -Wmaybe-uninitialized reports.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

bool AnchorBounds::wideAvailable() {
    static const bool available = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return available;
}

namespace {

// Tests the gathered candidates sixteen at a time and takes the passed.
ORVANE_TARGET_WIDE_BOUNDS void testWide(BoundsCandidates& c, const int* zones, uint64_t* taken, uint8_t* row) {
        int32_t passed = 0;
        for (int32_t k = 0; k < c.count; k += 16) {
            const __mmask16 live = static_cast<__mmask16>(c.count - k >= 16 ? 0xFFFF : (1u << (c.count - k)) - 1);
            const __m512i word = _mm512_maskz_loadu_epi32(live, c.zone + k);
            const __m512i zone = _mm512_and_si512(word, _mm512_set1_epi32(kZoneMask));
            // Eight zones (two words each) a gather.
            const __m512i low = _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), static_cast<__mmask8>(live),
                                                             _mm512_castsi512_si256(zone), zones, 8);
            const __m512i high = _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), static_cast<__mmask8>(live >> 8),
                                                              _mm512_extracti64x4_epi64(zone, 1), zones, 8);
            const __m512i zOffset = _mm512_permutex2var_epi32(
                low, _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30), high);
            const __m512i zLabel = _mm512_permutex2var_epi32(
                low, _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31), high);
            const __m512i offset = _mm512_maskz_loadu_epi32(live, c.offset + k);
            const __m512i limit = _mm512_mask_blend_epi32(
                _mm512_test_epi32_mask(word, _mm512_set1_epi32(1 << (kZoneBits + 9))), _mm512_set1_epi32(kInnerLimit),
                _mm512_set1_epi32(kEdgeLimit));
            // Directions: d in 10..728 taken below 360 twice (unsigned
            // minimum of d and d - 360).
            const __m512i turn = _mm512_and_si512(_mm512_srli_epi32(word, kZoneBits), _mm512_set1_epi32(511));
            __m512i d = _mm512_add_epi32(_mm512_sub_epi32(turn, _mm512_srli_epi32(zLabel, 16)),
                                         _mm512_set1_epi32(360 + kReach));
            d = _mm512_min_epu32(d, _mm512_sub_epi32(d, _mm512_set1_epi32(360)));
            d = _mm512_min_epu32(d, _mm512_sub_epi32(d, _mm512_set1_epi32(360)));
            const __m512i delta = _mm512_sub_epi16(offset, zOffset);
            const __m512i distance = _mm512_madd_epi16(delta, delta);
            const __mmask16 pass = _mm512_mask_cmple_epu32_mask(live, d, _mm512_set1_epi32(2 * kReach)) &
                                   _mm512_cmplt_epi32_mask(distance, limit);
            const __m256i labels = _mm512_cvtepi32_epi16(_mm512_maskz_compress_epi32(pass, zLabel));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.passed + passed), labels);
            passed += populationCount(pass);
        }
        takePassed(c, passed, taken, row);
        c.count = 0;
}

// Bit p set where probe minutia p (kinds in probeKind, sixteen a vector) has
// this kind.
ORVANE_TARGET_WIDE_BOUNDS uint64_t sameKindMask(const __m512i* probeKind, int32_t kind) {
    const __m512i wanted = _mm512_set1_epi32(kind);
    uint64_t mask = 0;
    for (int32_t q = 0; q < kPaddedMinutiae / 16; ++q) {
        mask |= static_cast<uint64_t>(_mm512_cmpeq_epi32_mask(probeKind[q], wanted)) << (16 * q);
    }
    return mask;
}

}  // namespace

// The same, sixteen look-ups (r, i) at a time: offsets in double precision
// with the same operations in the same order, so the same fixed-point
// values; each look-up's zones are appended round by round (zone k of every
// look-up that has one); the candidates are tested sixteen at a time.
ORVANE_TARGET_WIDE_BOUNDS int32_t AnchorBounds::boundsWide(const BoundsEntry& e, BoundsCandidates& c,
                                                                            uint8_t* rows, int32_t needed) const {
    const int32_t nR = e.count;
    const uint32_t* starts = starts_.data();
    const uint64_t* listed = listed_.data();
    const int* zones = reinterpret_cast<const int*>(zones_.data());
    const __m512i width = _mm512_set1_epi32(width_), height = _mm512_set1_epi32(height_);
    const __m512i originX = _mm512_set1_epi32(originX_), originY = _mm512_set1_epi32(originY_);
    const __m512i bins = _mm512_set1_epi32(kTurnBins);
    const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i evenWords = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i oddWords = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
    const __m512i firstMask = _mm512_set1_epi32(kFirstMask);
    const __m512i emptyKey = _mm512_set1_epi32(static_cast<int>(starts_.size() - 2));
    const __m512i ones = _mm512_set1_epi8(1);
    __m512i probeKind[kPaddedMinutiae / 16];
    for (int32_t q = 0; q < kPaddedMinutiae / 16; ++q) probeKind[q] = _mm512_loadu_si512(kind_ + 16 * q);
    const uint64_t probeMinutiae = probeCount_ == 64 ? ~uint64_t{0} : (uint64_t{1} << probeCount_) - 1;
    __m512i most = _mm512_setzero_si512();
    bool exact[kMaxMinutiae];
    // First every look-up's key, its listed word prefetched, so that the
    // misses overlap; then each r's listed bounds, kept as its row where they
    // settle it, else its look-ups' zone ranges; then the candidates of the r
    // not settled.
    for (int32_t r = 0; r < nR; ++r) {
        uint8_t* row = rows + static_cast<std::size_t>(r) * kAnchorBoundRow;
        _mm512_storeu_si512(row, ones);
        exact[r] = false;
        // Only the zones of r's kind are looked at (none: no look-ups).
        if (!probeHasKind(e.kind[r])) continue;
        float cr = 0.0f, sr = 0.0f;
        singleCosSin(e.direction[r], cr, sr);
        const __m512 c16 = _mm512_set1_ps(cr), s16 = _mm512_set1_ps(sr);
        const __m512 ax = _mm512_set1_ps(e.x[r]), ay = _mm512_set1_ps(e.y[r]);
        const __m512i rDirection = _mm512_set1_epi32(e.direction[r]);
        for (int32_t i0 = 0; i0 < nR; i0 += 16) {
            const __mmask16 real = _mm512_cmplt_epi32_mask(_mm512_add_epi32(lanes, _mm512_set1_epi32(i0)),
                                                           _mm512_set1_epi32(nR));
            const __m512 dx = _mm512_sub_ps(_mm512_loadu_ps(e.x + i0), ax);
            const __m512 dy = _mm512_sub_ps(_mm512_loadu_ps(e.y + i0), ay);
            const __m512i lx = _mm512_cvttps_epi32(_mm512_add_ps(_mm512_mul_ps(dx, c16), _mm512_mul_ps(dy, s16)));
            const __m512i ly = _mm512_cvttps_epi32(_mm512_sub_ps(_mm512_mul_ps(dy, c16), _mm512_mul_ps(dx, s16)));
            __m512i turn = _mm512_sub_epi32(_mm512_loadu_si512(e.direction + i0), rDirection);
            turn = _mm512_mask_add_epi32(turn, _mm512_cmplt_epi32_mask(turn, _mm512_setzero_si512()), turn,
                                         _mm512_set1_epi32(360));
            const __m512i cx = _mm512_srli_epi32(_mm512_sub_epi32(lx, originX), kCellShift);
            const __m512i cy = _mm512_srli_epi32(_mm512_sub_epi32(ly, originY), kCellShift);
            const __mmask16 inside = real & _mm512_cmplt_epu32_mask(cx, width) & _mm512_cmplt_epu32_mask(cy, height);
            const __m512i bin = _mm512_srli_epi32(_mm512_mullo_epi32(turn, _mm512_set1_epi32(205)), 11);
            const __m512i key = _mm512_add_epi32(
                _mm512_mullo_epi32(_mm512_add_epi32(_mm512_mullo_epi32(cy, width), cx), bins), bin);
            const int32_t at = r * kPaddedMinutiae + i0;
            _mm512_storeu_si512(c.lookFirst + at, _mm512_mask_blend_epi32(inside, emptyKey, key));
            // The listed words are read next, unless every row is to be exact.
            const char* next = needed > 1 ? reinterpret_cast<const char*>(listed)
                                          : reinterpret_cast<const char*>(starts);
            const std::size_t wordSize = needed > 1 ? sizeof(uint64_t) : sizeof(uint32_t);
            for (int32_t l = 0; l < 16; ++l) _mm_prefetch(next + wordSize * c.lookFirst[at + l], _MM_HINT_T0);
            _mm512_storeu_si512(c.lookEnd + at, _mm512_or_si512(_mm512_slli_epi32(turn, kZoneBits),
                                                                _mm512_slli_epi32(_mm512_loadu_si512(e.nearEdge + i0),
                                                                                  kZoneBits + 9)));
            _mm512_storeu_si512(c.lookOffset + at, _mm512_or_si512(_mm512_and_si512(lx, _mm512_set1_epi32(0xFFFF)),
                                                                   _mm512_slli_epi32(ly, 16)));
        }
    }
    for (int32_t r = 0; r < nR; ++r) {
        if (!probeHasKind(e.kind[r])) continue;
        const bool firstKindRow = e.kind[r] == firstKind_;
        uint8_t* row = rows + static_cast<std::size_t>(r) * kAnchorBoundRow;
        __m512i listedCount = _mm512_setzero_si512();  // byte p: zones of p listed (at most 255)
        uint64_t crowded = 0;
        for (int32_t i = 0; i < (needed > 1 ? nR : 0); ++i) {
            const uint64_t word = listed[c.lookFirst[r * kPaddedMinutiae + i]];
            const uint64_t zonesOfOne = word >> kListedCountShift;
            crowded |= zonesOfOne == kListedCountMost;
            listedCount = _mm512_mask_adds_epu8(listedCount, static_cast<__mmask64>(word & kListedAnchors),
                                                listedCount, _mm512_set1_epi8(static_cast<char>(zonesOfOne)));
        }
        // Settled where every anchor's listed bound, 1 + its count, stays
        // below `needed` (a count of 255 may be more), unless a crowded key
        // leaves a count short.
        const uint64_t kindOfR = sameKindMask(probeKind, e.kind[r]) & probeMinutiae;
        exact[r] = crowded != 0 || needed <= 1 ||
                   (needed <= 255 && _mm512_mask_cmpge_epu8_mask(kindOfR, listedCount,
                                                                 _mm512_set1_epi8(static_cast<char>(needed - 1))) != 0);
        if (!exact[r]) {
            const __m512i bound = _mm512_mask_adds_epu8(ones, kindOfR, ones, listedCount);
            _mm512_storeu_si512(row, bound);
            most = _mm512_max_epu8(most, _mm512_maskz_mov_epi8(kindOfR, bound));
            continue;
        }
        for (int32_t i0 = 0; i0 < nR; i0 += 16) {
            const int32_t at = r * kPaddedMinutiae + i0;
            // A key's word and the next (its end) with plain loads: a little
            // faster here than a gather.
            alignas(64) uint64_t words[16];
            for (int32_t l = 0; l < 16; ++l) std::memcpy(&words[l], starts + c.lookFirst[at + l], sizeof(uint64_t));
            const __m512i low = _mm512_load_si512(words);
            const __m512i high = _mm512_load_si512(words + 8);
            const __m512i turnEdge = _mm512_loadu_si512(c.lookEnd + at);
            const __m512i word = _mm512_permutex2var_epi32(low, evenWords, high);
            const __m512i first = _mm512_and_si512(word, firstMask);
            const __m512i split = _mm512_add_epi32(first, _mm512_srli_epi32(word, kFirstBits));
            const __m512i end = _mm512_and_si512(_mm512_permutex2var_epi32(low, oddWords, high), firstMask);
            _mm512_storeu_si512(c.lookFirst + at, _mm512_or_si512(firstKindRow ? first : split, turnEdge));
            _mm512_storeu_si512(c.lookEnd + at, _mm512_or_si512(firstKindRow ? split : end, turnEdge));
        }
    }
    alignas(64) uint64_t taken[kPaddedMinutiae];
    for (int32_t r = 0; r < nR; ++r) {
        if (!exact[r]) continue;
        for (int32_t q = 0; q < kPaddedMinutiae / 8; ++q) _mm512_store_si512(taken + 8 * q, _mm512_setzero_si512());
        uint8_t* row = rows + static_cast<std::size_t>(r) * kAnchorBoundRow;
        auto testCandidates = [&] { testWide(c, zones, taken, row); };
        int32_t n = 0;
        for (int32_t i0 = 0; i0 < nR; i0 += 16) {
            const int32_t at = r * kPaddedMinutiae + i0;
            __m512i first = _mm512_loadu_si512(c.lookFirst + at);
            const __m512i end = _mm512_loadu_si512(c.lookEnd + at);
            const __m512i offset = _mm512_loadu_si512(c.lookOffset + at);
            // Round k appends zone k of every look-up that has one.
            for (__mmask16 open = _mm512_cmplt_epu32_mask(first, end); open;
                 first = _mm512_add_epi32(first, _mm512_set1_epi32(1)), open &= _mm512_cmplt_epu32_mask(first, end)) {
                if (n > kCandidateBuffer - 16) {
                    c.count = n;
                    testCandidates();
                    n = 0;
                }
                _mm512_storeu_si512(c.zone + n, _mm512_maskz_compress_epi32(open, first));
                _mm512_storeu_si512(c.offset + n, _mm512_maskz_compress_epi32(open, offset));
                n += populationCount(open);
            }
        }
        c.count = n;
        testCandidates();
        most = _mm512_max_epu8(most, _mm512_maskz_mov_epi8(sameKindMask(probeKind, e.kind[r]) & probeMinutiae,
                                                           _mm512_loadu_si512(row)));
    }
    alignas(64) uint8_t largest[64];
    _mm512_store_si512(largest, most);
    return *std::max_element(largest, largest + 64);
}

#pragma GCC diagnostic pop

#else

bool AnchorBounds::wideAvailable() { return false; }

#endif

}  // namespace orvane::search
