#pragma once
// Small queries over filters and pins that graph building repeats: pins of a filter by
// direction, connection state, the filter a pin belongs to, the types a pin offers.
#include <string>
#include <vector>

#include "framework/InterfacePtr.h"
#include "framework/dshow/FilterInterfaces.h"
#include "platform/dshow/FilterRegistry.h"

namespace graphpins {

std::vector<InterfacePtr<IPin>> pinsOf(IBaseFilter* filter);
std::vector<InterfacePtr<IPin>> pinsOf(IBaseFilter* filter, PIN_DIRECTION direction);
bool direction(IPin* pin, PIN_DIRECTION* out);
bool isConnected(IPin* pin);
InterfacePtr<IPin> peerOf(IPin* pin);
InterfacePtr<IBaseFilter> filterOf(IPin* pin);
std::u16string pinName(IPin* pin);
std::u16string filterName(IBaseFilter* filter);
CLSID classOf(IBaseFilter* filter);
// The (major, sub) types the pin offers; empty when it offers none.
std::vector<RegisteredPinType> offeredTypes(IPin* pin);
// The connection's major type, GUID_NULL when unknown.
GUID majorTypeOf(IPin* pin);
// Whether `candidate` is `filter` or feeds it, directly or through other filters.
bool isUpstreamOf(IBaseFilter* candidate, IBaseFilter* filter);
// A renderer: has input pins and no output pins.
bool isRenderer(IBaseFilter* filter);

}  // namespace graphpins
