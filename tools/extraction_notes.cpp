#include "extraction_notes.h"

#include <cstdio>
#include <cstring>

#include "minutiae/detection.h"

namespace orvane::cli {

namespace {

// Planes mark print (in the mask) and ridge pixels (in the skeleton) with 0.
constexpr uint8_t kMarked = 0;

// Raw minutiae (skeleton ends and forks) per 10 000 pixels of print: real
// prints of four sensor sets give 6 to 55, random noise 75 to 86. The
// template itself cannot tell, as the detector keeps at most 60.
constexpr double kMostCandidatesPer10000Pixels = 65.0;

std::string percent(double share) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f%%", share * 100);
    return buf;
}

}  // namespace

void ExtractionNotes::stageImage(Stage stage, const uint8_t* plane, int32_t width, int32_t height) {
    if (next_) next_->stageImage(stage, plane, width, height);
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (stage == Stage::kSegmentation) {
        segmented = true;
        framePixels = static_cast<int64_t>(pixels);
        printPixels = 0;
        for (size_t i = 0; i < pixels; ++i) printPixels += plane[i] == kMarked;
    } else if (stage == Stage::kSkeletonCleanup) {
        skeletonised = true;
        skeletonEnds = skeletonForks = 0;
        for (int32_t y = kScanMargin; y < height - kScanMargin; ++y) {
            for (int32_t x = kScanMargin; x < width - kScanMargin; ++x) {
                const uint8_t* p = plane + static_cast<size_t>(y) * static_cast<size_t>(width) + x;
                if (*p != kMarked) continue;
                int neighbours = 0;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) neighbours += (dx || dy) && p[dy * width + dx] == kMarked;
                }
                skeletonEnds += neighbours == 1;
                skeletonForks += neighbours >= 3;
            }
        }
    }
}

std::string extractionFailureText(const ExtractionNotes& notes) {
    if (!notes.segmented) return "too little print: no part of the image looks like ridges (blank, faint or tiny print)";
    const std::string found = "print found on " + percent(notes.coverage()) + " of the frame";
    if (notes.skeletonised && (notes.skeletonEnds >= kKindLimit || notes.skeletonForks >= kKindLimit)) {
        return "too many minutia candidates (" + std::to_string(notes.skeletonEnds) + " ridge ends, " +
               std::to_string(notes.skeletonForks) + " forks; " + found +
               "): background texture or noise was probably taken for print (--crop auto may help)";
    }
    return "fewer than " + std::to_string(kMinMinutiae) + " usable minutiae (" + found + ")";
}

std::string minutiaDensityWarning(const ExtractionNotes& notes) {
    if (notes.printPixels <= 0 || !notes.skeletonised) return "";
    const int32_t candidates = notes.skeletonEnds + notes.skeletonForks;
    const double per10000 = 10000.0 * candidates / double(notes.printPixels);
    if (per10000 <= kMostCandidatesPer10000Pixels) return "";
    char buf[240];
    std::snprintf(buf, sizeof buf,
                  "%d raw minutiae on %lld pixels of print is implausibly many (%.0f per 10 000 pixels, real prints "
                  "give at most about 55): the image may be noise or texture rather than a print",
                  candidates, static_cast<long long>(notes.printPixels), per10000);
    return buf;
}

}  // namespace orvane::cli
