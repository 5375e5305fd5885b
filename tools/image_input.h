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

// A part of a picture: left and top counted from its top-left corner, as an
// image viewer shows them.
struct PictureWindow {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct GreyImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;  // width * height, library row order
    bool cropped = false;         // pixels are only the window below of the file's picture
    PictureWindow window;
};

// What is done to an image before use. Centre: an image over 640 x 480 is
// cut to its centre. Auto: the print's bounding box is found and used (see
// print_window.h). The exports never crop.
enum class CropMode { None, Centre, Auto };

// The --crop option of a command that declared it as a value option:
// "auto", "centre", or absent. Throws UsageError for any other value.
class Options;
CropMode cropOption(const Options& options);

enum class FileKind { Missing, Folder, Bitmap, OtherImage, Template };

// What a file holds, judged from its first bytes (anything that is not a
// known image format is taken for a template).
FileKind sniffFile(const std::string& path);

// True for the extensions of the image formats the tool reads.
bool hasImageExtension(const std::string& path);

// Loads an image as 8-bit grey (colour converted). Images over 640 x 480 are
// refused unless cropped. A damaged file (cut short, broken headers) is an
// error, never filled in. Throws CliError.
GreyImage loadGreyImage(const std::string& path, CropMode crop);
inline GreyImage loadGreyImage(const std::string& path, bool crop) {
    return loadGreyImage(path, crop ? CropMode::Centre : CropMode::None);
}

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
