// Clean-up after a file write that failed part way (a full disk, a quota).
#pragma once

namespace orvane {

// Removes path when it names a plain file, so that no truncated file is left
// behind; devices (such as /dev/full), pipes and symbolic links stay.
void removeUnfinishedFile(const char* path);

}  // namespace orvane
