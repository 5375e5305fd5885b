// What an extraction's stage images tell about its outcome: how much of the
// frame was taken for print and how busy the skeleton was. Used to say why
// an extraction failed and to warn about templates that cannot be right.
#pragma once

#include <cstdint>
#include <string>

#include "interface/observer.h"

namespace orvane::cli {

class ExtractionNotes : public StageObserver {
public:
    // Stage images are passed on to next (may be null).
    explicit ExtractionNotes(StageObserver* next) : next_(next) {}
    void stageImage(Stage stage, const uint8_t* plane, int32_t width, int32_t height) override;

    bool segmented = false;        // the mask stage was reached: some print was found
    bool skeletonised = false;     // the skeleton stage was reached
    int64_t framePixels = 0;
    int64_t printPixels = 0;       // pixels the mask takes for print
    int32_t skeletonEnds = 0;      // skeleton pixels with one neighbour, away from the frame's edge
    int32_t skeletonForks = 0;     // skeleton pixels with three or more neighbours, likewise

    double coverage() const { return framePixels ? double(printPixels) / double(framePixels) : 0; }

private:
    StageObserver* next_;
};

// Why an extraction gave 10400, as far as the notes tell.
std::string extractionFailureText(const ExtractionNotes& notes);

// A warning when the skeleton's raw minutiae are implausibly many for the
// area taken for print (random texture does that), or "" when plausible.
std::string minutiaDensityWarning(const ExtractionNotes& notes);

}  // namespace orvane::cli
