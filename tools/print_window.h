// The part of a picture that holds the print: used by --crop auto, so that a
// print on a large or textured background is extracted from its own window.
#pragma once

#include "image_input.h"

namespace orvane::cli {

// The bounding box of the blocks whose ridge contrast (the oriented part of
// the grey-level gradient, which ridges have and flat or random texture
// lacks) stands out, as one connected region, widened by a margin and cut to
// at most 640 x 480 around its centre. The whole picture (or its centre, when
// larger) when no block stands out.
PictureWindow findPrintWindow(const GreyImage& image);

// Keeps only the window of the picture; records it in image.window.
void cropToWindow(GreyImage& image, const PictureWindow& window);

// findPrintWindow then cropToWindow.
void cropToPrint(GreyImage& image);

}  // namespace orvane::cli
