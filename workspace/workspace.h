// The image workspace: the current image size and four full-size byte planes
// in which every image stage works in place. The library owns one static
// instance (libraryWorkspace()); tests and batch tools may make their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "core/minutia.h"

namespace orvane {

constexpr int32_t kMaxWidth = 640;
constexpr int32_t kMaxHeight = 480;
constexpr int32_t kPlaneSize = kMaxWidth * kMaxHeight;  // 307200
// Working memory for the image stages whose buffers are too large for the
// stack of a host's thread (the largest is the orientation field's).
constexpr size_t kStageMemoryBytes = 104 * 1024;

struct Workspace {
    int32_t width = 256;
    int32_t height = 360;
    int32_t pixelCount = 256 * 360;
    alignas(64) uint8_t imagePlane[kPlaneSize];
    alignas(64) uint8_t orientationPlane[kPlaneSize];
    alignas(64) uint8_t maskPlane[kPlaneSize];
    alignas(64) uint8_t scratchPlane[kPlaneSize];
    // The minutiae of the last extraction made in this workspace.
    MinutiaSet extractedSet;
    // Shared by the stages in turn: see stageBuffers.
    alignas(64) unsigned char stageMemory[kStageMemoryBytes];
};

// The result of the two stages that can end an extraction (segmentation, for
// too little foreground, and minutia detection); every other stage always
// completes and returns nothing.
enum StageResult : int32_t { kStageCompleted = 0, kStageFailed = 1 };

// The buffers of one image stage, laid over the workspace's stage memory.
// Only one stage runs at a time in a workspace, and the contents are
// undefined on entry: the stage sets every value it reads.
template <class Buffers>
Buffers& stageBuffers(Workspace& ws) {
    static_assert(sizeof(Buffers) <= kStageMemoryBytes, "a stage needs more than the workspace's stage memory");
    static_assert(alignof(Buffers) <= 64, "stage memory is aligned to 64 bytes");
    static_assert(std::is_trivial<Buffers>::value, "stage buffers are plain arrays");
    return *new (ws.stageMemory) Buffers;
}

// The library's own workspace, in static storage (planes zeroed at load).
Workspace& libraryWorkspace();

// A size the planes can hold: 1..kMaxWidth x 1..kMaxHeight.
inline bool fitsWorkspace(int32_t width, int32_t height) {
    return width >= 1 && height >= 1 && width <= kMaxWidth && height <= kMaxHeight;
}

// Places a caller's grey image. Returns 0, or 1 for a null image or a width
// or height over the limits or below 1 (the workspace is then unchanged).
int32_t setWorkspaceImage(Workspace& ws, const uint8_t* image, int32_t width, int32_t height);

}  // namespace orvane
