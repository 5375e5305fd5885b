#include "interface/extraction.h"
#include "interface/result_codes.h"
#include "interface/stages.h"

namespace orvane {

int32_t runExtractionPipeline(Workspace& ws, StageObserver* observer) {
    for (const Stage stage : kExtractionStages) {
        if (runStage(ws, stage) == kStageFailed) return ORVANE_E_EXTRACTION;
        const uint8_t* plane = stagePlane(ws, stage);
        if (observer && plane) observer->stageImage(stage, plane, ws.width, ws.height);
    }
    return ORVANE_OK;
}

}  // namespace orvane
