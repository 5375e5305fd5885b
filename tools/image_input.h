// Reading prints and templates from files.
//
// Grey buffers follow the library's bitmap convention: row 0 is the first row
// stored in a bitmap file, which for ordinary (bottom-up) bitmaps is the
// bottom row of the picture. Images from other formats are turned the same
// way up, so a print gives the same template whether it is read as PNG or as
// a bitmap converted from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::cli {

struct GreyImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;  // width * height, library row order
};

enum class FileKind { Missing, Folder, Bitmap, OtherImage, Template };

// What a file holds, judged from its first bytes (anything that is not a
// known image format is taken for a template).
FileKind sniffFile(const std::string& path);

// True for the extensions of the image formats the tool reads.
bool hasImageExtension(const std::string& path);

// Loads an image as 8-bit grey (colour converted). Images over 640 x 480 are
// refused unless crop is set, when their centre is taken. Throws CliError.
GreyImage loadGreyImage(const std::string& path, bool crop);

// Loads a template file, checking its length and check byte. Throws CliError.
std::vector<uint8_t> loadTemplate(const std::string& path);

// Writes a template file. Throws CliError.
void saveTemplate(const std::string& path, const std::vector<uint8_t>& featureTemplate);

// Writes an 8-bit bitmap through the library. Throws CliError.
void saveGreyBitmap(const std::string& path, const GreyImage& image);

// Image files (by extension) in a folder, sorted by name; throws when the
// folder cannot be read.
std::vector<std::string> listFiles(const std::string& folder, bool imagesOnly);

}  // namespace orvane::cli
