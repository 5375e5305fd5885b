// The library's own angle computations over their whole input domains, as
// text lines. They rest on atan2, sin and cos, which the C runtimes of the two
// platforms do not compute to the same last bit (the Windows runtime works on
// the x87 unit), so both builds run these and the Windows side must reproduce
// the Linux lines: whole-degree directions for every pixel offset in a frame,
// OrientationCodes of gradient sums, the three ring sample positions for every
// direction, and a minutia set aligned at every whole-degree rotation.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Each part is compiled only when its stage exists in the tree, so the lines
// of both builds always cover the same stages.
#if __has_include("enhance/orientation_code.h")
#include "enhance/orientation_code.h"
#define ORVANE_ANGLES_ORIENTATION 1
#endif
#if __has_include("match/align.h")
#include "match/align.h"
#define ORVANE_ANGLES_ALIGN 1
#endif
#if __has_include("minutiae/description.h") && __has_include("minutiae/skeleton.h")
#include "minutiae/description.h"
#include "minutiae/skeleton.h"
#define ORVANE_ANGLES_MINUTIAE 1
#endif
#include "core/minutia.h"
#include "workspace/workspace.h"

#include <type_traits>

#ifdef ORVANE_ANGLES_ORIENTATION
// The OrientationCode of gradient sums comes either from the plain function
// or, in trees that have it, from the table-driven coder; both are declared
// here and only the one whose class is complete is called.
namespace orvane {
class OrientationCoder;
const OrientationCoder& orientationCoder();
int32_t orientationCode(int64_t k, int64_t l);
}  // namespace orvane

namespace orvane_equality {
template <typename T, typename = void>
struct IsComplete : std::false_type {};
template <typename T>
struct IsComplete<T, decltype(void(sizeof(T)))> : std::true_type {};

template <typename Coder = orvane::OrientationCoder>
int32_t libraryOrientationCode(int64_t k, int64_t l) {
    if constexpr (IsComplete<Coder>::value) {
        return static_cast<const Coder&>(orvane::orientationCoder()).code(k, l);
    } else {
        return orvane::orientationCode(k, l);
    }
}
}  // namespace orvane_equality
#endif

namespace orvane_equality {

struct Fnv {
    uint64_t h = 1469598103934665603ull;
    void add(int64_t v) {
        for (int i = 0; i < 8; ++i) {
            h ^= static_cast<uint8_t>(v >> (8 * i));
            h *= 1099511628211ull;
        }
    }
};

inline std::vector<std::string> angleLines() {
    std::vector<std::string> lines;
    char buf[256];

#ifdef ORVANE_ANGLES_MINUTIAE
    // Every offset within a 640 x 480 frame.
    Fnv directions;
    for (int32_t dy = -479; dy <= 479; ++dy)
        for (int32_t dx = -639; dx <= 639; ++dx) directions.add(orvane::pointDirection(0, 0, dx, dy));
    std::snprintf(buf, sizeof buf, "pointDirection %016llx", static_cast<unsigned long long>(directions.h));
    lines.push_back(buf);
#endif

#ifdef ORVANE_ANGLES_ORIENTATION
    // Small gradient sums exhaustively, then a spread of large ones up to the
    // size of a 13 x 13 window of Sobel responses.
    Fnv codes;
    for (int64_t k = -300; k <= 300; ++k)
        for (int64_t l = -300; l <= 300; ++l) codes.add(libraryOrientationCode(k, l));
    uint64_t state = 88172645463325252ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (int i = 0; i < 1000000; ++i) {
        const int shift = static_cast<int>(next() % 20);
        const int64_t k = (static_cast<int64_t>(next() % 700000001ull) - 350000000) >> shift;
        const int64_t l = (static_cast<int64_t>(next() % 700000001ull) - 350000000) >> shift;
        codes.add(libraryOrientationCode(k, l));
    }
    std::snprintf(buf, sizeof buf, "orientationCode %016llx", static_cast<unsigned long long>(codes.h));
    lines.push_back(buf);
#endif

#ifdef ORVANE_ANGLES_MINUTIAE
    // Ring sample positions: a plane whose orientation bytes name the column,
    // then one naming the row.
    std::unique_ptr<orvane::Workspace> ws(new orvane::Workspace());
    ws->width = 81;
    ws->height = 81;
    ws->pixelCount = 81 * 81;
    int32_t sampled[360][6];
    for (int pass = 0; pass < 2; ++pass) {
        for (int32_t p = 0; p < ws->pixelCount; ++p)
            ws->orientationPlane[p] = static_cast<uint8_t>(pass == 0 ? p % 81 : p / 81);
        for (int32_t d = 0; d < 360; ++d) {
            orvane::Minutia m{};
            m.x = 40;
            m.y = 40;
            m.direction = d;
            orvane::sampleRingOrientations(*ws, m);
            for (int k = 0; k < 3; ++k) sampled[d][2 * k + pass] = m.ringOrientation[k] - 40;
        }
    }
    for (int32_t d = 0; d < 360; ++d) {
        std::snprintf(buf, sizeof buf, "ring %d %d,%d %d,%d %d,%d", d, sampled[d][0], sampled[d][1], sampled[d][2],
                      sampled[d][3], sampled[d][4], sampled[d][5]);
        lines.push_back(buf);
    }
#endif

#ifdef ORVANE_ANGLES_ALIGN
    // A full set spread over the frame, aligned about two centres at every
    // whole-degree rotation.
    orvane::MinutiaSet set{};
    set.count = orvane::kMaxMinutiae;
    for (int32_t i = 0; i < set.count; ++i) {
        orvane::Minutia& m = set.minutiae[i];
        m.x = static_cast<int32_t>((i * 97 + 13) % 640);
        m.y = static_cast<int32_t>((i * 61 + 7) % 480);
        m.direction = (i * 47) % 360;
        m.ringOrientation[0] = (i * 7) % 180;
        m.ringOrientation[1] = (i * 11) % 180;
        m.ringOrientation[2] = (i * 13) % 180;
        m.kind = 1 + i % 2;
    }
    std::unique_ptr<orvane::MinutiaSet> aligned(new orvane::MinutiaSet());
    for (int32_t r = 0; r < 360; ++r) {
        Fnv h;
        for (int32_t c : {0, 31}) {
            orvane::alignMinutiaSet(set, *aligned, set.minutiae[c], r, 17, -9);
            for (int32_t i = 0; i < aligned->count; ++i) {
                h.add(aligned->minutiae[i].x);
                h.add(aligned->minutiae[i].y);
                h.add(aligned->minutiae[i].direction);
            }
        }
        std::snprintf(buf, sizeof buf, "align %d %016llx", r, static_cast<unsigned long long>(h.h));
        lines.push_back(buf);
    }
#endif
    lines.push_back("end");
    return lines;
}

}  // namespace orvane_equality
