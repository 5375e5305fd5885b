// Pictures drawn with cairo: evaluation charts and minutiae on a print.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/minutia.h"
#include "image_input.h"

namespace orvane::cli {

struct PlotSeries {
    std::string name;
    std::vector<int32_t> genuine;
    std::vector<int32_t> impostor;
};

// The picture formats written, chosen by the file's extension (.png, .svg,
// .pdf, in any case); any other name is refused with UsageError.
enum class PictureFormat { Png, Svg, Pdf };
PictureFormat checkPictureFormat(const std::string& path);

// Score distributions (of the first series) and DET curves (of all series)
// side by side, in the format of the path's extension. Throws CliError.
void drawEvaluationPlot(const std::string& path, const std::string& title, const std::vector<PlotSeries>& series);

// The print with its minutiae (endings as circles, bifurcations as squares,
// each with a stroke along its direction), and, when skeleton is not null,
// the skeleton with the same marks beside it. scale enlarges the picture.
void drawMinutiaePicture(const std::string& path, const GreyImage& print, const GreyImage* skeleton,
                         const MinutiaSet& set, int scale);

// Frees the font caches that drawing text filled; call once before exit.
void releasePictureLibraries();

}  // namespace orvane::cli
