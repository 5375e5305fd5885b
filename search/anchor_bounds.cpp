#include "search/anchor_bounds.h"

#include <cmath>
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

inline int32_t cellOf(double v) {
    return static_cast<int32_t>(std::floor(v / kCellSize)) & (kTorusCells - 1);
}

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

void AnchorBounds::prepare(const PreparedProbe& probe) {
    counts_.assign(kCells * kRow, 0);
    const int32_t n = probe.count;
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
            const int32_t x0 = static_cast<int32_t>(std::floor((lx - kLocalTolerance) / kCellSize));
            const int32_t x1 = static_cast<int32_t>(std::floor((lx + kLocalTolerance) / kCellSize));
            const int32_t y0 = static_cast<int32_t>(std::floor((ly - kLocalTolerance) / kCellSize));
            const int32_t y1 = static_cast<int32_t>(std::floor((ly + kLocalTolerance) / kCellSize));
            for (int32_t cy = y0; cy <= y1; ++cy) {
                for (int32_t cx = x0; cx <= x1; ++cx) {
                    const int32_t wx = cx & (kTorusCells - 1), wy = cy & (kTorusCells - 1);
                    uint8_t& a = counts_[cellIndex(wx, wy, turnLow) * kRow + static_cast<std::size_t>(p)];
                    if (a < 255) ++a;
                    if (twoBins) {
                        uint8_t& b = counts_[cellIndex(wx, wy, turnHigh) * kRow + static_cast<std::size_t>(p)];
                        if (b < 255) ++b;
                    }
                }
            }
        }
    }
}

void AnchorBounds::anchorBounds(const PreparedReference& ref, uint8_t* rows) const {
    const int32_t n = ref.count;
    const uint8_t* counts = counts_.data();
    for (int32_t r = 0; r < n; ++r) {
        double c = 0.0, s = 0.0;
        rotationCosSin(ref.direction[r], c, s);
        const double rx = ref.x[r], ry = ref.y[r];
        uint8_t* row = rows + static_cast<std::size_t>(r) * kRow;
#if defined(__SSE2__)
        __m128i sum[kRow / 16];
        for (auto& v : sum) v = _mm_setzero_si128();
#else
        std::memset(row, 0, kRow);
#endif
        for (int32_t i = 0; i < n; ++i) {
            double lx = 0.0, ly = 0.0;
            localOffset(rx, ry, c, s, ref.x[i], ref.y[i], lx, ly);
            const int32_t turn = normalDirection(ref.direction[i] - ref.direction[r]);
            const uint8_t* cell = counts + cellIndex(cellOf(lx), cellOf(ly), turn) * kRow;
#if defined(__SSE2__)
            for (std::size_t k = 0; k < kRow / 16; ++k) {
                sum[k] = _mm_adds_epu8(sum[k], _mm_loadu_si128(reinterpret_cast<const __m128i*>(cell + 16 * k)));
            }
#else
            for (std::size_t k = 0; k < kRow; ++k) {
                const int32_t v = row[k] + cell[k];
                row[k] = static_cast<uint8_t>(v > 255 ? 255 : v);
            }
#endif
        }
#if defined(__SSE2__)
        for (std::size_t k = 0; k < kRow / 16; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 16 * k), sum[k]);
#endif
    }
}

}  // namespace orvane::search
