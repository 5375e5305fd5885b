#include "search/anchor_bounds.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvane::search {

using namespace match_internal;

namespace {

// Local offsets are compared in fixed point, 1/16 of a unit (truncated, so at
// most 1/16 off per axis on each side: sqrt(2) / 8 < 0.18 in distance).
constexpr double kFixedScale = 16.0;
constexpr double kFixedAllowance = 0.18;
// Largest distance of a pair (sqrt(98) rounded up), the rounding of aligned
// coordinates away from and near the low edges (0.5 and 1.5 times sqrt(2),
// rounded up), and the allowance for the turn table and fixed point.
constexpr double kPairDistance = 9.8995;
constexpr double kInnerTolerance = kPairDistance + 0.7072 + kFixedAllowance + 1e-3;
constexpr double kEdgeTolerance = kPairDistance + 2.1214 + kFixedAllowance + 1e-3;
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

// The offset of (x, y) from an anchor at (ax, ay) in the anchor's own frame
// (turned by minus its direction, cosine c, sine s), in fixed point. Offsets
// are below 1450 in size, so they fit 16 bits.
inline void localOffset(double ax, double ay, double c, double s, double x, double y, int32_t& lx, int32_t& ly) {
    const double dx = x - ax;
    const double dy = y - ay;
    lx = static_cast<int32_t>((dx * c + dy * s) * kFixedScale);
    ly = static_cast<int32_t>((dy * c - dx * s) * kFixedScale);
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
    // not listed.
    starts_.assign(keys + 1, 0);
    for (int32_t p = 0; p < n; ++p) {
        for (int32_t j = 0; j < n; ++j) {
            if (j != p) forEachKey(local[static_cast<std::size_t>(p * n + j)], [&](std::size_t key) { ++starts_[key + 1]; });
        }
    }
    for (std::size_t k = 0; k < keys; ++k) starts_[k + 1] += starts_[k];
    zones_.assign(starts_[keys], Zone{});
    std::vector<uint32_t> fill(starts_.begin(), starts_.end() - 1);
    for (int32_t p = 0; p < n; ++p) {
        for (int32_t j = 0; j < n; ++j) {
            if (j == p) continue;
            const Local& l = local[static_cast<std::size_t>(p * n + j)];
            const Zone zone{static_cast<int16_t>(l.x), static_cast<int16_t>(l.y), static_cast<uint8_t>(p),
                            static_cast<uint8_t>(j), static_cast<int16_t>(l.turn)};
            forEachKey(l, [&](std::size_t key) { zones_[fill[key]++] = zone; });
        }
    }
}

int32_t AnchorBounds::anchorBounds(const CompactMinutia* ref, int32_t count, uint8_t* rows) const {
    const int32_t nP = probeCount_;
    const int32_t nR = clampCount(count);
    if (nP == 0 || nR == 0) return 0;
    double x[kMaxMinutiae], y[kMaxMinutiae];
    int32_t limit[kMaxMinutiae];  // squared tolerance of i's pairs: it depends on where i lies
    for (int32_t i = 0; i < nR; ++i) {
        x[i] = ref[i].x;
        y[i] = ref[i].y;
        limit[i] = ref[i].x >= kInnerFrom && ref[i].y >= kInnerFrom ? kInnerLimit : kEdgeLimit;
    }
    const uint32_t width = static_cast<uint32_t>(width_), height = static_cast<uint32_t>(height_);
    const uint32_t* starts = starts_.data();
    const Zone* zones = zones_.data();
    // The look-ups miss the cache: their keys, then their zone ranges, are
    // all found first, with prefetches, so that the misses overlap.
    constexpr uint32_t kNoKey = UINT32_MAX;
    uint32_t keys[kMaxMinutiae * kMaxMinutiae];
    int32_t offsets[kMaxMinutiae * kMaxMinutiae][2];
    for (int32_t r = 0; r < nR; ++r) {
        double c = 0.0, s = 0.0;
        rotationCosSin(ref[r].direction, c, s);
        for (int32_t i = 0; i < nR; ++i) {
            const int32_t at = r * nR + i;
            int32_t lx = 0, ly = 0;
            localOffset(x[r], y[r], c, s, x[i], y[i], lx, ly);
            offsets[at][0] = lx;
            offsets[at][1] = ly;
            // Cells outside the grid (negative differences wrap to large
            // values) hold no probe offset.
            const uint32_t cx = static_cast<uint32_t>(lx - originX_) >> kCellShift;
            const uint32_t cy = static_cast<uint32_t>(ly - originY_) >> kCellShift;
            if (cx >= width || cy >= height) {
                keys[at] = kNoKey;
                continue;
            }
            const int32_t turn = normalDirection(ref[i].direction - ref[r].direction);
            keys[at] = (cy * width + cx) * kTurnBins + static_cast<uint32_t>(turn / kTurnBinWidth);
            __builtin_prefetch(starts + keys[at]);
        }
    }
    uint32_t ranges[kMaxMinutiae * kMaxMinutiae][2];
    for (int32_t at = 0; at < nR * nR; ++at) {
        if (keys[at] == kNoKey) {
            ranges[at][0] = ranges[at][1] = 0;
            continue;
        }
        ranges[at][0] = starts[keys[at]];
        ranges[at][1] = starts[keys[at] + 1];
        __builtin_prefetch(zones + ranges[at][0]);
    }
    int32_t most = 0;
    for (int32_t r = 0; r < nR; ++r) {
        // Every anchor's own p is counted (it may pair with r); r itself is
        // looked up too, as other probe minutiae near p may pair with it.
        uint8_t* row = rows + static_cast<std::size_t>(r) * kAnchorBoundRow;
        std::memset(row, 1, static_cast<std::size_t>(nP));
        uint64_t taken[kMaxMinutiae] = {};
        for (int32_t i = 0; i < nR; ++i) {
            const int32_t at = r * nR + i;
            const int32_t turn = normalDirection(ref[i].direction - ref[r].direction);
            const int32_t lx = offsets[at][0], ly = offsets[at][1];
            const int32_t lim = limit[i];
            // About half the zones listed pass: the tests are made without
            // branches, and a pass sets j's bit (counting it once).
            for (uint32_t z = ranges[at][0], end = ranges[at][1]; z < end; ++z) {
                const Zone& zone = zones[z];
                int32_t d = turn - zone.turn + 360 + kReach;  // 10..728
                d -= d >= 360 ? 360 : 0;
                d -= d >= 360 ? 360 : 0;
                const int32_t dx = lx - zone.x;
                const int32_t dy = ly - zone.y;
                const uint64_t pass = static_cast<uint64_t>((d <= 2 * kReach) & (dx * dx + dy * dy < lim));
                const uint64_t t = taken[zone.anchor];
                const uint64_t added = (uint64_t{1} << zone.minutia) & ~t & (uint64_t{0} - pass);
                taken[zone.anchor] = t | added;
                row[zone.anchor] = static_cast<uint8_t>(row[zone.anchor] + (added != 0));
            }
        }
        const int32_t rKind = ref[r].kind;
        for (int32_t p = 0; p < nP; ++p) {
            if (kind_[p] == rKind) most = std::max<int32_t>(most, row[p]);
        }
    }
    return most;
}

}  // namespace orvane::search
