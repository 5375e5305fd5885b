// Stage images leave the extraction only through this observer.
#pragma once

#include <cstdint>

namespace orvane {

class StageObserver {
public:
    virtual ~StageObserver() = default;
    // name: "0", "00", "1", "2", "3", "4" or "5"; plane holds width x height
    // bytes, valid only during the call.
    virtual void stageImage(const char* name, const uint8_t* plane, int32_t width, int32_t height) = 0;
};

}  // namespace orvane
