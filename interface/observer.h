// Stage images leave the extraction only through this observer.
#pragma once

#include <cstdint>

#include "interface/stages.h"

namespace orvane {

class StageObserver {
public:
    virtual ~StageObserver() = default;
    // Called after each stage that shows an image (see stagePlane in
    // interface/stages.h); plane holds width x height bytes, valid only during
    // the call.
    virtual void stageImage(Stage stage, const uint8_t* plane, int32_t width, int32_t height) = 0;
};

}  // namespace orvane
