// The diagnostic stage images as bitmap files. On Windows they go to the
// fixed paths c:\0.bmp ... c:\5.bmp; elsewhere only to the directory named by
// the environment variable ORVANE_DEBUG_DIR, when it is set. Failures to
// write are ignored.
#pragma once

#include "interface/observer.h"

namespace orvane {

// The file name (without ".bmp") of the image shown after stage: "0" for the
// orientation field, "00" for the mask, "1" to "4" for the ridge filter,
// binarization, noise removal and masking, "5" for the cleaned skeleton; null
// for a stage that shows no image.
const char* diagnosticFileName(Stage stage);

class DiagnosticFileWriter : public StageObserver {
public:
    // directory: where the files go ("" writes nothing).
    explicit DiagnosticFileWriter(const char* directory);
    void stageImage(Stage stage, const uint8_t* plane, int32_t width, int32_t height) override;

    // The writer the exports use on this platform, or null when none is set up.
    static DiagnosticFileWriter* forExports();

private:
    char directory_[512];
};

}  // namespace orvane
