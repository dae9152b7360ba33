#pragma once
// The whole media pipeline contract in one include.
#include "framework/dshow/DshowErrors.h"
#include "framework/dshow/DshowTypes.h"
#include "framework/dshow/EventCodes.h"
#include "framework/dshow/FilterInterfaces.h"
#include "framework/dshow/Formats.h"
#include "framework/dshow/GraphInterfaces.h"
#include "framework/dshow/MapperInterfaces.h"
#include "framework/dshow/MediaGuids.h"
#include "framework/dshow/MediaType.h"
#include "framework/dshow/SampleInterfaces.h"
#include "framework/dshow/StreamInterfaces.h"
#include "framework/dshow/Variant.h"
