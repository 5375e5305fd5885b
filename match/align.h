// Rigid alignment of a minutia set: turn about one minutia, then shift.
#pragma once

#include <cstdint>

#include "core/minutia.h"

namespace orvane {

// destination becomes a copy of source (all 60 records) whose first count
// records are turned by rotation degrees about centre (x, y) and shifted.
void alignMinutiaSet(const MinutiaSet& source, MinutiaSet& destination, const Minutia& centre, int32_t rotation,
                     int32_t shiftX, int32_t shiftY);

}  // namespace orvane
