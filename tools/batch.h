// Work spread over all cores: one library workspace per thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image_input.h"
#include "interface/observer.h"
#include "workspace/workspace.h"

namespace orvane::cli {

// Calls work(index, workspace) for every index below count, on workerCount()
// threads; each thread owns one Workspace. The first exception thrown by a
// call is rethrown here once all threads have stopped. Shows progress under
// label on a terminal.
void parallelFor(size_t count, const std::string& label, const std::function<void(size_t, Workspace&)>& work);

struct ExtractionOutcome {
    int32_t code = -1;              // library result code; -1 when the input could not be read
    std::string message;            // one line for the user when code != 0
    std::string warning;            // when the template is implausible (see extraction_notes.h)
    double printCoverage = 0;       // share of the frame taken for print
    std::vector<uint8_t> featureTemplate;
    int32_t quality = -1;           // when asked for
    double seconds = 0;             // time of the extraction alone
    int32_t width = 0;
    int32_t height = 0;
    bool cropped = false;           // extracted from window of the file's picture
    PictureWindow window;

    bool ok() const { return code == 0; }
    int32_t minutiaCount() const {
        return featureTemplate.size() >= 4 ? static_cast<int32_t>((featureTemplate.size() - 4) / 7) : 0;
    }
};

// Extraction of one loaded image in a caller's workspace.
ExtractionOutcome extractImage(Workspace& ws, const GreyImage& image, StageObserver* observer, bool withQuality);

// Loads and extracts one file; never throws for bad input (the outcome says why).
ExtractionOutcome extractFile(Workspace& ws, const std::string& path, CropMode crop, StageObserver* observer,
                              bool withQuality);

// Extracts many files on all cores.
std::vector<ExtractionOutcome> extractFiles(const std::vector<std::string>& paths, CropMode crop, bool withQuality,
                                            const std::string& label);

// The template of a file that is either a template of any format the tool
// reads (template_formats.h) or an image (extracted here, cropped as asked).
// Throws CliError with the reason when neither works.
std::vector<uint8_t> templateOfFile(Workspace& ws, const std::string& path, CropMode crop);

// The forms above with crop as a yes/no for the centre of an oversized image.
inline ExtractionOutcome extractFile(Workspace& ws, const std::string& path, bool crop, StageObserver* observer,
                                     bool withQuality) {
    return extractFile(ws, path, crop ? CropMode::Centre : CropMode::None, observer, withQuality);
}
inline std::vector<ExtractionOutcome> extractFiles(const std::vector<std::string>& paths, bool crop, bool withQuality,
                                                   const std::string& label) {
    return extractFiles(paths, crop ? CropMode::Centre : CropMode::None, withQuality, label);
}
inline std::vector<uint8_t> templateOfFile(Workspace& ws, const std::string& path, bool crop) {
    return templateOfFile(ws, path, crop ? CropMode::Centre : CropMode::None);
}

// A fresh zeroed workspace on the heap (about 1.3 MB).
std::unique_ptr<Workspace> newWorkspace();

}  // namespace orvane::cli
