// Accuracy of the matcher on a database of prints named FINGER_IMPRESSION.ext.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "error_rates.h"
#include "image_input.h"

namespace orvane::cli {

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
    std::vector<std::pair<std::string, PictureWindow>> windows;  // with --crop auto
    std::string scoresPath;
    std::vector<ModeResult> modes;
};

struct EvaluationOptions {
    bool allImpostors = false;
    CropMode crop = CropMode::None;
    std::string plotPath;    // "" for none
    std::string scoresPath;  // every comparison as CSV; "" for none
};

// Runs the whole evaluation; throws CliError when the folder holds no
// usable prints.
EvaluationReport evaluateFolder(const std::string& folder, const EvaluationOptions& options);

void printReport(const EvaluationReport& report, bool json);

}  // namespace orvane::cli
