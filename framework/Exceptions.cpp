#include "framework/Exceptions.h"

#include <algorithm>
#include <iterator>

IException::IException(std::u16string_view text, int32_t code, int32_t extra) : code_(code), extra_(extra) {
    std::fill(std::begin(message_), std::end(message_), u'\0');
    size_t n = std::min<size_t>(text.size(), kMessageUnits - 1);
    std::copy_n(text.data(), n, message_);
}

namespace {
constexpr std::u16string_view kCategoryNames[] = {
    u"DirectXInitializeException",
    u"DrawBaseInitializeException",
    u"Direct3DInfomationInitializeException",
    u"DirectXInfomationInitializeException",
    u"DirectDrawInitializeException",
    u"Direct3DInitializeException",
    u"DirectSoundInitializeException",
    u"DirectInputInitializeException",
    u"DirectShowInitializeException",
    u"MediaFoundationInitializeException",
    u"DirectXInfomationException",
    u"Direct3DInfomationException",
    u"DirectDrawException",
    u"Direct3DException",
    u"DirectSoundException",
    u"DirectInputException",
    u"DirectShowException",
    u"MediaFoundationException",
};
}  // namespace

std::u16string_view directx_exception::categoryName(int category) {
    if (category < 0 || category >= static_cast<int>(std::size(kCategoryNames))) return u"UnknownInitializeError";
    return kCategoryNames[category];
}

directx_exception::directx_exception(int category, int32_t code, const char16_t* text)
    : IException(text ? std::u16string_view(text) : categoryName(category), code) {}

smart_ptr_exception::smart_ptr_exception(int32_t reason) : IException(u"smart ptr exception", reason) {}

interface_ptr_exception::interface_ptr_exception(int32_t reason) : IException(u"interface ptr exception", reason) {}
