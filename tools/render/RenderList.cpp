#include "tools/render/RenderList.h"

#include <fstream>
#include <iterator>
#include <limits>

#include "app/PlayerApp.h"
#include "framework/WideString.h"
#include "tools/render/JsonValue.h"

namespace {

bool refuse(std::string* error, const std::string& where, const std::string& what) {
    if (error) *error = where + ": " + what;
    return false;
}

bool readInteger(const JsonValue& v, const std::string& where, int64_t min, int64_t max, int64_t* out,
                 std::string* error) {
    if (!v.isInteger() || v.integer() < min || v.integer() > max)
        return refuse(error, where, "expected an integer from " + std::to_string(min) + " to " + std::to_string(max));
    *out = v.integer();
    return true;
}

bool readRect(const JsonValue& v, const std::string& where, RECT* out, std::string* error) {
    if (v.type() != JsonValue::Type::Array || v.items().size() != 4)
        return refuse(error, where, "expected [left, top, right, bottom]");
    int64_t c[4];
    for (size_t i = 0; i < 4; ++i)
        if (!readInteger(v.items()[i], where + "[" + std::to_string(i) + "]", std::numeric_limits<int32_t>::min(),
                         std::numeric_limits<int32_t>::max(), &c[i], error))
            return false;
    *out = RECT{LONG(c[0]), LONG(c[1]), LONG(c[2]), LONG(c[3])};
    return true;
}

bool readItem(const JsonValue& v, const std::string& where, const std::filesystem::path& baseDir, StageItem* out,
              std::string* error) {
    if (v.type() != JsonValue::Type::Object) return refuse(error, where, "expected an object");
    for (const auto& [name, member] : v.members()) {
        const std::string at = where + "." + name;
        int64_t n = 0;
        if (name == "path") {
            if (member.type() != JsonValue::Type::String || member.text().empty())
                return refuse(error, at, "expected a file name");
            if (member.text().find('\0') != std::string::npos) return refuse(error, at, "NUL in a file name");
            std::filesystem::path p(member.text());
            if (p.is_relative()) p = baseDir / p;
            out->path = fromUtf8(p.lexically_normal().string());
        } else if (name == "source" || name == "dest") {
            RECT r{};
            if (!readRect(member, at, &r, error)) return false;
            (name == "source" ? out->source : out->dest) = r;
        } else if (name == "opacity") {
            if (!readInteger(member, at, 0, 255, &n, error)) return false;
            out->opacity = uint8_t(n);
        } else if (name == "volume") {
            if (!readInteger(member, at, 0, PlayItem::kDefaultVolume, &n, error)) return false;
            out->volume = int32_t(n);
        } else if (name == "pan") {
            if (!readInteger(member, at, PlayItem::kMinPan, PlayItem::kMaxPan, &n, error)) return false;
            out->pan = int32_t(n);
        } else if (name == "offsetMs") {
            if (!readInteger(member, at, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), &n,
                             error))
                return false;
            out->offsetMs = int32_t(n);
        } else {
            return refuse(error, at, "unknown field");
        }
    }
    if (out->path.empty()) return refuse(error, where, "\"path\" is missing");
    return true;
}

}  // namespace

bool RenderList::parse(std::string_view text, const std::filesystem::path& baseDir, RenderList* out,
                       std::string* error) {
    JsonValue root;
    std::string reason;
    if (!JsonValue::parse(text, &root, &reason)) return refuse(error, "bad JSON", reason);
    if (root.type() != JsonValue::Type::Object) return refuse(error, "list", "expected an object");

    RenderList list;
    bool haveItems = false;
    for (const auto& [name, member] : root.members()) {
        if (name == "size") {
            int64_t w = 0, h = 0;
            const int64_t max = PlayerApp::kMaxVideoExtent;
            if (member.type() != JsonValue::Type::Array || member.items().size() != 2)
                return refuse(error, "size", "expected [width, height]");
            if (!readInteger(member.items()[0], "size[0]", 1, max, &w, error) ||
                !readInteger(member.items()[1], "size[1]", 1, max, &h, error))
                return false;
            list.options.width = uint32_t(w);
            list.options.height = uint32_t(h);
        } else if (name == "background") {
            if (member.type() != JsonValue::Type::Array || member.items().size() != 3)
                return refuse(error, "background", "expected [red, green, blue]");
            for (size_t i = 0; i < 3; ++i) {
                const JsonValue& c = member.items()[i];
                if (!c.isNumber() || !(c.number() >= 0.0 && c.number() <= 1.0))
                    return refuse(error, "background[" + std::to_string(i) + "]", "expected a number from 0.0 to 1.0");
                list.options.background[i] = float(c.number());
            }
        } else if (name == "items") {
            if (member.type() != JsonValue::Type::Array) return refuse(error, "items", "expected an array");
            haveItems = true;
            for (size_t i = 0; i < member.items().size(); ++i) {
                StageItem item;
                if (!readItem(member.items()[i], "items[" + std::to_string(i) + "]", baseDir, &item, error))
                    return false;
                list.items.push_back(std::move(item));
            }
        } else {
            return refuse(error, name, "unknown field");
        }
    }
    if (!haveItems) return refuse(error, "list", "\"items\" is missing");
    if (list.items.empty()) return refuse(error, "items", "the list is empty");
    if (out) *out = std::move(list);
    return true;
}

bool RenderList::load(const std::filesystem::path& file, RenderList* out, std::string* error) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) return refuse(error, file.string(), "cannot read the list");
    if (size > kMaxFileBytes) return refuse(error, file.string(), "the list is too large");
    std::ifstream in(file, std::ios::binary);
    if (!in) return refuse(error, file.string(), "cannot read the list");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return refuse(error, file.string(), "cannot read the list");
    std::filesystem::path base = file.parent_path();
    if (base.empty()) base = ".";
    return parse(text, base, out, error);
}
