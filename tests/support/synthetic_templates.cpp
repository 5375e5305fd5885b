// Writes a synthetic gallery as text for scripts that load one into a
// database or split it into shards: one "subject,impression,hex" line per
// entry, in gallery order.
//
//   synthetic_templates COUNT [SEED]
#include <cstdio>
#include <cstdlib>

#include "support/synthetic_gallery.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: synthetic_templates COUNT [SEED]\n");
        return 2;
    }
    const long count = std::strtol(argv[1], nullptr, 10);
    const unsigned long seed = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1;
    if (count < 0) return 2;
    for (const auto& e : orvane::synthetic::syntheticGallery(static_cast<size_t>(count), static_cast<uint32_t>(seed))) {
        std::printf("%s,%d,", e.subject.c_str(), e.impression);
        for (uint8_t b : e.featureTemplate) std::printf("%02x", b);
        std::printf("\n");
    }
    return 0;
}
