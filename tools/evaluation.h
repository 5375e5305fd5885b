// Accuracy of the matcher on a database of prints named FINGER_IMPRESSION.ext.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image_input.h"

namespace orvane::cli {

// Error rates of one set of genuine and impostor scores. A comparison is
// accepted when its score is at least the threshold.
struct ErrorRates {
    double eer = 0;            // where the DET curve crosses FMR = FNMR (interpolated)
    int32_t eerThreshold = 0;  // first threshold where FNMR >= FMR
    double fnmrAtFmr1 = 0;     // lowest FNMR with FMR <= 1 %
    double fnmrAtFmr01 = 0;    // lowest FNMR with FMR <= 0.1 %
    double fnmrAtFmr0 = 0;     // lowest FNMR with FMR = 0
    double genuineMean = 0;
    double impostorMean = 0;
};

struct DetPoint {
    int32_t threshold;
    double fmr;
    double fnmr;
};

ErrorRates computeErrorRates(const std::vector<int32_t>& genuine, const std::vector<int32_t>& impostor);

// FMR and FNMR at every threshold where either changes, ascending threshold.
std::vector<DetPoint> detCurve(const std::vector<int32_t>& genuine, const std::vector<int32_t>& impostor);

struct ModeResult {
    std::string name;  // "full" or "quick"
    std::vector<int32_t> genuine;
    std::vector<int32_t> impostor;
    ErrorRates rates;
    double secondsPerComparison = 0;
};

struct EvaluationReport {
    std::string folder;
    int32_t fingers = 0;
    int32_t images = 0;
    int32_t failedExtractions = 0;
    double meanMinutiae = 0;
    double meanQuality = 0;
    double secondsPerExtraction = 0;
    bool allImpostors = false;
    std::vector<std::string> failedFiles;
    std::vector<ModeResult> modes;
};

struct EvaluationOptions {
    bool allImpostors = false;
    CropMode crop = CropMode::None;
    std::string plotPath;  // "" for none
};

// Runs the whole evaluation; throws CliError when the folder holds no
// usable prints.
EvaluationReport evaluateFolder(const std::string& folder, const EvaluationOptions& options);

void printReport(const EvaluationReport& report, bool json);

}  // namespace orvane::cli
