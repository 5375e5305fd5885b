// Galleries of synthetic templates for search tests and benchmarks: fingers
// made by support/synthetic_sets.h, each enrolled in a few impressions, so that
// a gallery has mated and non-mated entries with realistic score spreads.
// Header-only, so benchmarks and service tests can use it without linking.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "formats/feature_template.h"
#include "support/synthetic_sets.h"

namespace orvane::synthetic {

struct GalleryEntry {
    std::string subject;  // "s<finger number>"
    int32_t impression;   // 1, 2, ...
    std::vector<uint8_t> featureTemplate;
};

inline std::vector<uint8_t> packed(const MinutiaSet& set) {
    std::vector<uint8_t> t(kMaxTemplateBytes);
    t.resize(static_cast<size_t>(packTemplate(&set, t.data())));
    return t;
}

// `count` entries: finger 0 in impressions 1..impressionsPerFinger, then
// finger 1, and so on. The same seed gives the same gallery on every platform
// of one standard library.
inline std::vector<GalleryEntry> syntheticGallery(size_t count, uint32_t seed, int32_t impressionsPerFinger = 4) {
    std::mt19937 rng(seed);
    std::vector<GalleryEntry> out;
    out.reserve(count);
    for (size_t finger = 0; out.size() < count; ++finger) {
        const Finger f = makeFinger(rng, uniform(rng, 20, 58));
        for (int32_t i = 1; i <= impressionsPerFinger && out.size() < count; ++i) {
            out.push_back({"s" + std::to_string(finger), i, packed(impress(rng, f, randomImpression(rng)))});
        }
    }
    return out;
}

}  // namespace orvane::synthetic
