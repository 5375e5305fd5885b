// The commands around the gallery store and the 1:N search: enroll,
// identify (a gallery file or a folder), verify and gallery maintenance.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"

namespace orvane::cli {

// Score from which identify and verify call two prints the same finger.
constexpr int32_t kDefaultDecisionThreshold = 60;

int runEnroll(const Args& args);
int runVerify(const Args& args);
int runGallery(const Args& args);

// The gallery part of the demo: enrols all prints of a synthetic database
// but impression 1 and the last two fingers, then identifies impression 1
// of a few enrolled fingers (mated) and of the left-out ones (non-mated).
void demoGallery(const std::string& folder, const std::vector<std::string>& prints);

}  // namespace orvane::cli
