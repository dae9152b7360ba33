#include "platform/dshow/PipelineClasses.h"

#include "framework/ComUser.h"
#include "framework/dshow/MediaGuids.h"
#include "platform/dshow/AudioRenderer.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/FilterMapper.h"
#include "platform/dshow/SystemClock.h"
#include "platform/dshow/system/SystemFilters.h"

void registerPipelineClasses() {
    registerComClass(CLSID_FilterGraph, &createComObject<FilterGraph>);
    registerComClass(CLSID_FilterMapper2, &createComObject<FilterMapper>);
    registerComClass(CLSID_SystemClock, &createComObject<SystemClock>);
    AudioRenderer::registerClass();
    registerSystemFilters();
}
