#include "media/ContainerFormatTable.h"

#include <array>

#include "framework/dshow/MediaGuids.h"

namespace {

constexpr std::array<ContainerFormat, 16> kRows{{
    {u"mpg", MEDIASUBTYPE_MPEG1System, ContainerHandler::SystemMpeg1},
    {u"mpeg", MEDIASUBTYPE_MPEG1System, ContainerHandler::SystemMpeg1},
    {u"wma", MEDIASUBTYPE_Asf, ContainerHandler::WindowsMedia},
    {u"wmv", MEDIASUBTYPE_Asf, ContainerHandler::WindowsMedia},
    {u"mbc", MEDIASUBTYPE_MbcStream, ContainerHandler::Mbc},
    {u"ogv", MEDIASUBTYPE_OggStream, ContainerHandler::OggTheora},
    {u"avi", MEDIASUBTYPE_Avi, ContainerHandler::NotHandled},
    {u"mp4", MEDIASUBTYPE_Mp4Stream, ContainerHandler::ColourConverterOnly},
    {u"webm", MEDIASUBTYPE_WebMStream, ContainerHandler::WebM},
    {u"mkv", MEDIASUBTYPE_MkvStream, ContainerHandler::None},
    {u"flv", MEDIASUBTYPE_FlvStream, ContainerHandler::None},
    {u"mpa", MEDIASUBTYPE_MPEG1Audio, ContainerHandler::None},
    {u"mp2", MEDIASUBTYPE_MPEG1Audio, ContainerHandler::None},
    {u"mpv", MEDIASUBTYPE_MPEG1Video, ContainerHandler::None},
    {u"m1v", MEDIASUBTYPE_MPEG1Video, ContainerHandler::None},
    {u"wav", MEDIASUBTYPE_WAVE, ContainerHandler::None},
}};

char16_t lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool sameExtension(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

}  // namespace

std::span<const ContainerFormat> ContainerFormatTable::rows() {
    return kRows;
}

const ContainerFormat* ContainerFormatTable::findByExtension(std::u16string_view extension) {
    if (extension.empty() || extension.size() > kMaxExtension) return nullptr;
    for (const ContainerFormat& row : kRows)
        if (sameExtension(row.extension, extension)) return &row;
    return nullptr;
}

const ContainerFormat* ContainerFormatTable::findBySubtype(const GUID& subtype) {
    for (const ContainerFormat& row : kRows)
        if (row.subtype == subtype) return &row;
    return nullptr;
}

GUID ContainerFormatTable::subtypeForExtension(std::u16string_view extension) {
    const ContainerFormat* row = findByExtension(extension);
    return row ? row->subtype : GUID_NULL;
}
