#include "search/coarse_bounds.h"

#include <algorithm>

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvane::search {

using namespace match_internal;

namespace {

constexpr double kLocalTolerance = 12.5;
constexpr int32_t kCellSize = 10;       // coordinates per cell
constexpr int32_t kTorusCells = 32;     // cells per axis, wrapping around (a power of two)
constexpr int32_t kTurnBinWidth = 30;   // degrees per relative-direction bin (divides 360, at least 19)
constexpr int32_t kTurnBins = 360 / kTurnBinWidth;
constexpr std::size_t kCells = static_cast<std::size_t>(kTorusCells) * kTorusCells * kTurnBins;
constexpr std::size_t kRow = kAnchorBoundRow;

// Local offsets are below 1023 * sqrt(2) in size: shifted by a whole number of
// turns of the torus they are positive, and truncation is the floor. Both
// sides use this one function, which only rounds monotonically.
constexpr double kCellScale = 1.0 / kCellSize;
constexpr double kTorusShift = 8.0 * kCellSize * kTorusCells;
static_assert(kTorusShift > 1500.0, "offsets must end up positive");

inline int32_t cellOf(double v) {
    return static_cast<int32_t>((v + kTorusShift) * kCellScale) & (kTorusCells - 1);
}

// Turns 0..719 as 0..359.
inline int32_t turnBelow360(int32_t d) { return d >= 360 ? d - 360 : d; }

inline std::size_t cellIndex(int32_t cx, int32_t cy, int32_t turn) {
    return (static_cast<std::size_t>(cy) * kTorusCells + static_cast<std::size_t>(cx)) * kTurnBins +
           static_cast<std::size_t>(turn / kTurnBinWidth);
}

// The offset of (x, y) from an anchor at (ax, ay) in the anchor's own frame:
// turned by minus its direction (cosine c, sine s).
inline void localOffset(double ax, double ay, double c, double s, double x, double y, double& lx, double& ly) {
    const double dx = x - ax;
    const double dy = y - ay;
    lx = dx * c + dy * s;
    ly = dy * c - dx * s;
}

}  // namespace

void CoarseAnchorBounds::prepare(const PreparedProbe& probe) {
    counts_.assign(kCells * kRow, 0);
    const int32_t n = probe.count;
    // Byte p of row k is 0xFF where probe minutia p has kind k (kinds of a
    // template are 0..255), else 0.
    sameKind_.assign(256 * kRow, 0);
    for (int32_t p = 0; p < n; ++p) {
        if (probe.kind[p] >= 0 && probe.kind[p] < 256) {
            sameKind_[static_cast<std::size_t>(probe.kind[p]) * kRow + static_cast<std::size_t>(p)] = 0xFF;
        }
    }
    for (int32_t p = 0; p < n; ++p) {
        double c = 0.0, s = 0.0;
        rotationCosSin(probe.direction[p], c, s);
        for (int32_t j = 0; j < n; ++j) {
            double lx = 0.0, ly = 0.0;
            localOffset(probe.xd[p], probe.yd[p], c, s, probe.xd[j], probe.yd[j], lx, ly);
            const int32_t turn = normalDirection(probe.direction[j] - probe.direction[p]);
            // The relative directions within 9 span at most two bins.
            const int32_t turnLow = normalDirection(turn - kReach);
            const int32_t turnHigh = normalDirection(turn + kReach);
            const bool twoBins = turnLow / kTurnBinWidth != turnHigh / kTurnBinWidth;
            // Cells from that of lx - tolerance to that of lx + tolerance (on
            // the torus: at most 4 of 32, so none repeats).
            const int32_t x0 = cellOf(lx - kLocalTolerance), x1 = cellOf(lx + kLocalTolerance);
            const int32_t y0 = cellOf(ly - kLocalTolerance), y1 = cellOf(ly + kLocalTolerance);
            for (int32_t cy = y0;; cy = (cy + 1) & (kTorusCells - 1)) {
                for (int32_t cx = x0;; cx = (cx + 1) & (kTorusCells - 1)) {
                    const int32_t wx = cx, wy = cy;
                    uint8_t& a = counts_[cellIndex(wx, wy, turnLow) * kRow + static_cast<std::size_t>(p)];
                    if (a < 255) ++a;
                    if (twoBins) {
                        uint8_t& b = counts_[cellIndex(wx, wy, turnHigh) * kRow + static_cast<std::size_t>(p)];
                        if (b < 255) ++b;
                    }
                    if (cx == x1) break;
                }
                if (cy == y1) break;
            }
        }
    }
}

int32_t CoarseAnchorBounds::anchorBounds(const CompactMinutia* ref, int32_t count, uint8_t* rows) const {
    const int32_t n = clampCount(count);
    const uint8_t* counts = counts_.data();
    // Per 16 anchors p, the largest sum over the rows r of p's kind.
    alignas(16) uint8_t most[kRow] = {};
#if defined(__SSE2__)
    __m128i mostSum[kRow / 16];
    for (auto& v : mostSum) v = _mm_setzero_si128();
#endif
    for (int32_t r = 0; r < n; ++r) {
        const uint8_t* sameKind = sameKind_.data() + static_cast<std::size_t>(ref[r].kind) * kRow;
        double c = 0.0, s = 0.0;
        rotationCosSin(ref[r].direction, c, s);
        const double rx = ref[r].x, ry = ref[r].y;
#if defined(__SSE2__)
        __m128i sum[kRow / 16];
        for (auto& v : sum) v = _mm_setzero_si128();
#else
        uint8_t sum[kRow] = {};
#endif
        for (int32_t i = 0; i < n; ++i) {
            double lx = 0.0, ly = 0.0;
            localOffset(rx, ry, c, s, ref[i].x, ref[i].y, lx, ly);
            const int32_t turn = turnBelow360(ref[i].direction + 360 - ref[r].direction);
            const uint8_t* cell = counts + cellIndex(cellOf(lx), cellOf(ly), turn) * kRow;
#if defined(__SSE2__)
            for (std::size_t k = 0; k < kRow / 16; ++k) {
                sum[k] = _mm_adds_epu8(sum[k], _mm_loadu_si128(reinterpret_cast<const __m128i*>(cell + 16 * k)));
            }
#else
            for (std::size_t k = 0; k < kRow; ++k) {
                const int32_t v = sum[k] + cell[k];
                sum[k] = static_cast<uint8_t>(v > 255 ? 255 : v);
            }
#endif
        }
        uint8_t* row = rows + static_cast<std::size_t>(r) * kRow;
#if defined(__SSE2__)
        for (std::size_t k = 0; k < kRow / 16; ++k) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 16 * k), sum[k]);
            const __m128i mask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sameKind + 16 * k));
            mostSum[k] = _mm_max_epu8(mostSum[k], _mm_and_si128(sum[k], mask));
        }
#else
        std::memcpy(row, sum, kRow);
        for (std::size_t k = 0; k < kRow; ++k) most[k] = std::max<uint8_t>(most[k], sum[k] & sameKind[k]);
#endif
    }
#if defined(__SSE2__)
    for (std::size_t k = 0; k < kRow / 16; ++k) _mm_store_si128(reinterpret_cast<__m128i*>(most + 16 * k), mostSum[k]);
#endif
    return *std::max_element(most, most + kRow);
}

}  // namespace orvane::search
