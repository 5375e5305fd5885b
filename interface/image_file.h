// Loading a bitmap file into a workspace: the file layer's reader and the
// memory layer's planes meet here, so that neither knows the other.
#pragma once

#include <cstdint>

#include "workspace/workspace.h"

namespace orvane {

// Places the pixels of a bitmap file. Returns 0, or 1 on any failure (the
// workspace size is then unchanged).
int32_t loadWorkspaceImage(Workspace& ws, const char* path);

}  // namespace orvane
