#pragma once
// The splitter filter for .mbc movies: the shared splitter design with MbcSource, offering
// uncompressed RGB video and PCM audio straight to the renderers.
#include <memory>

#include "framework/Guid.h"
#include "splitters/SplitterFilter.h"

class MbcSplitter : public SplitterFilter {
public:
    static constexpr const char16_t* kName = u"MBC Media Splitter";
    static constexpr CLSID kClassId = guidOf("{907DB8C4-07B9-430F-8921-65CB22A63C5B}");
    // The byte-stream subtype of .mbc files on the input (with MEDIATYPE_Stream).
    static constexpr GUID kStreamSubtype = guidOf("{AB11E48A-AB30-45E6-9CF3-F3591C47479D}");
    static constexpr LONG kOutputBuffers = 6;

    explicit MbcSplitter(HRESULT* phr = nullptr);

    // Class creation for a filter registry: a new filter answering riid into *out with one
    // reference, *out left null on failure.
    static HRESULT create(REFIID riid, void** out);

protected:
    std::unique_ptr<SplitterSource> createSource() override;
};
