#pragma once
// 128-bit class and interface identifiers, with the platform's layout and text form.
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];

    friend constexpr bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i]) return false;
        return true;
    }
    friend constexpr std::strong_ordering operator<=>(const GUID& a, const GUID& b) {
        if (auto c = a.Data1 <=> b.Data1; c != 0) return c;
        if (auto c = a.Data2 <=> b.Data2; c != 0) return c;
        if (auto c = a.Data3 <=> b.Data3; c != 0) return c;
        for (int i = 0; i < 8; ++i)
            if (auto c = a.Data4[i] <=> b.Data4[i]; c != 0) return c;
        return std::strong_ordering::equal;
    }
};

using IID = GUID;
using CLSID = GUID;
using REFIID = const GUID&;
using REFCLSID = const GUID&;
using REFGUID = const GUID&;

constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// "{01234567-89AB-CDEF-0123-456789ABCDEF}", upper-case hex as the platform writes it.
std::string guidToString(const GUID& g);
// Accepts the text form with or without braces, any case; nothing on a malformed text.
std::optional<GUID> guidFromString(std::string_view text);

// Compile-time identifier from its text form, for tables of identifiers:
//   constexpr GUID CLSID_X = guidOf("{448F762D-03F7-4DBB-87FD-C76C83C443E9}");
consteval GUID guidOf(const char (&t)[39]) {
    auto hex = [](char c) -> uint32_t {
        if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
        if (c >= 'a' && c <= 'f') return static_cast<uint32_t>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F') return static_cast<uint32_t>(c - 'A' + 10);
        throw "bad hex digit in identifier";
    };
    auto field = [&](int from, int digits) {
        uint32_t v = 0;
        for (int i = 0; i < digits; ++i) v = (v << 4) | hex(t[from + i]);
        return v;
    };
    if (t[0] != '{' || t[9] != '-' || t[14] != '-' || t[19] != '-' || t[24] != '-' || t[37] != '}')
        throw "identifier must read {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    GUID g{};
    g.Data1 = field(1, 8);
    g.Data2 = static_cast<uint16_t>(field(10, 4));
    g.Data3 = static_cast<uint16_t>(field(15, 4));
    g.Data4[0] = static_cast<uint8_t>(field(20, 2));
    g.Data4[1] = static_cast<uint8_t>(field(22, 2));
    for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<uint8_t>(field(25 + 2 * i, 2));
    return g;
}

// The FOURCC-based media subtypes: {XXXXXXXX-0000-0010-8000-00AA00389B71}.
constexpr GUID guidFromFourcc(uint32_t fourcc) {
    return GUID{fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

constexpr uint32_t makeFourcc(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

struct GuidHash {
    size_t operator()(const GUID& g) const noexcept;
};
