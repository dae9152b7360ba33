#pragma once
// Class identifiers of the system filters that have no platform identifier of their own,
// and the byte-stream subtypes the file source announces for the containers they read.
#include "framework/Guid.h"

constexpr CLSID CLSID_ContainerSplitter = guidOf("{7F3B2C10-4D8E-4A61-B5C2-9E1D0A6F3B71}");
constexpr CLSID CLSID_SystemVideoDecoder = guidOf("{7F3B2C11-4D8E-4A61-B5C2-9E1D0A6F3B71}");
constexpr CLSID CLSID_SystemAudioDecoder = guidOf("{7F3B2C12-4D8E-4A61-B5C2-9E1D0A6F3B71}");

constexpr GUID kMp4StreamSubtype = guidOf("{08E22ADA-B715-45ED-9D20-7B87750301D4}");
constexpr GUID kMkvStreamSubtype = guidOf("{49952F4C-3EDC-4A9B-8906-1DE02A3D4BC2}");
constexpr GUID kFlvStreamSubtype = guidOf("{F2FAC0F1-3852-4670-AAC0-9051D400AC54}");
