// Stage images of an extraction written as bitmaps into a folder, each
// replaced whole (see safe_write.h).
#pragma once

#include <string>

#include "interface/observer.h"

namespace orvane::cli {

class StageImageFiles : public StageObserver {
public:
    explicit StageImageFiles(std::string folder) : folder_(std::move(folder)) {}
    void stageImage(Stage stage, const uint8_t* plane, int32_t width, int32_t height) override;
    // Throws CliError naming the first image that could not be written.
    void throwIfFailed() const;

private:
    std::string folder_;
    std::string failure_;
};

}  // namespace orvane::cli
