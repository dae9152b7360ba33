#pragma once
// Which container a file holds, judged by its extension: the byte-stream subtype the file
// source announces, and which set of filters prepares a graph for it.
#include <span>
#include <string_view>

#include "framework/Guid.h"
#include "splitters/MbcSplitter.h"

// The filter set that prepares a graph for a container; the graph builder owns the code.
enum class ContainerHandler {
    None,          // nothing to prepare: the graph's own search decides
    SystemMpeg1,   // system MPEG-1 splitter and decoders
    WindowsMedia,  // own Windows Media splitter and the decoder objects
    Mbc,           // own MBC splitter
    OggTheora,     // own Ogg/Theora splitter
    NotHandled,    // known container this engine declines to prepare
    ColourConverterOnly,
    WebM,
};

struct ContainerFormat {
    std::u16string_view extension;  // without the dot, lower case
    GUID subtype;
    ContainerHandler handler;
};

// Our own stream subtypes (the others are the platform's).
// The MBC splitter owns its stream subtype; the table announces the same value.
constexpr GUID MEDIASUBTYPE_MbcStream = MbcSplitter::kStreamSubtype;
constexpr GUID MEDIASUBTYPE_OggStream = guidOf("{D2855FA9-61A7-4DB0-B979-71F297C17A04}");
constexpr GUID MEDIASUBTYPE_Mp4Stream = guidOf("{08E22ADA-B715-45ED-9D20-7B87750301D4}");
constexpr GUID MEDIASUBTYPE_WebMStream = guidOf("{ED3110EB-5211-11DF-94AF-0026B977EEAA}");
constexpr GUID MEDIASUBTYPE_MkvStream = guidOf("{49952F4C-3EDC-4A9B-8906-1DE02A3D4BC2}");
constexpr GUID MEDIASUBTYPE_FlvStream = guidOf("{F2FAC0F1-3852-4670-AAC0-9051D400AC54}");

class ContainerFormatTable {
public:
    // Longest extension the table compares; longer ones never match.
    static constexpr size_t kMaxExtension = 7;

    // Every row, in lookup order.
    static std::span<const ContainerFormat> rows();
    // The row for an extension (no dot, any case), or null.
    static const ContainerFormat* findByExtension(std::u16string_view extension);
    // The first row announcing the subtype, or null.
    static const ContainerFormat* findBySubtype(const GUID& subtype);
    // The subtype a file with this extension is announced with; GUID_NULL when unknown.
    static GUID subtypeForExtension(std::u16string_view extension);
};
