// Synthetic fingerprints: a ridge pattern grown from an orientation field
// with cores and deltas, then several impressions of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image_input.h"

namespace orvane::cli {

struct SynthOptions {
    int fingers = 10;
    int impressions = 8;
    uint32_t seed = 1;
    int width = 320;
    int height = 400;
};

// The master ridge pattern of one finger, values from -1 (ridge) to 1 (valley).
struct MasterPrint {
    int width = 0;
    int height = 0;
    std::vector<float> ridges;
    float centreX = 0, centreY = 0;  // centre of the finger pad
    float radiusX = 0, radiusY = 0;  // half axes of the finger pad
    float period = 9;                // ridge period in pixels
};

MasterPrint makeMasterPrint(uint32_t seed);

// One impression of a master print, top row first (as a picture is seen).
GreyImage makeImpression(const MasterPrint& master, uint32_t seed, int width, int height);

// Writes fingers x impressions bitmaps named FINGER_IMPRESSION.bmp into dir
// (created when missing) on all cores; returns their paths. Throws CliError.
std::vector<std::string> synthesiseDatabase(const std::string& dir, const SynthOptions& options);

}  // namespace orvane::cli
