#include "tools/render/JsonValue.h"

#include <charconv>
#include <cmath>
#include <set>

// The reader: recursive descent over the text with the position of the first fault.
class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    bool document(JsonValue* out) {
        skipSpace();
        if (!value(out, 0)) return false;
        skipSpace();
        if (pos_ != text_.size()) return fail("unexpected text after the value");
        return true;
    }

    std::string error() const {
        size_t line = 1, column = 1;
        for (size_t i = 0; i < failPos_ && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + reason_;
    }

private:
    bool fail(const char* reason) {
        if (reason_.empty()) {
            reason_ = reason;
            failPos_ = pos_;
        }
        return false;
    }
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[pos_]; }

    void skipSpace() {
        while (!atEnd()) {
            const char c = text_[pos_];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
            ++pos_;
        }
    }

    bool literal(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return fail("unknown word");
        pos_ += word.size();
        return true;
    }

    bool value(JsonValue* out, int depth) {
        if (atEnd()) return fail("a value is missing");
        switch (peek()) {
            case '{':
                return object(out, depth + 1);
            case '[':
                return array(out, depth + 1);
            case '"':
                out->type_ = JsonValue::Type::String;
                return string(&out->text_);
            case 't':
                out->type_ = JsonValue::Type::Boolean;
                out->boolean_ = true;
                return literal("true");
            case 'f':
                out->type_ = JsonValue::Type::Boolean;
                out->boolean_ = false;
                return literal("false");
            case 'n':
                out->type_ = JsonValue::Type::Null;
                return literal("null");
            default:
                if (peek() == '-' || (peek() >= '0' && peek() <= '9')) return number(out);
                return fail("unexpected character");
        }
    }

    bool object(JsonValue* out, int depth) {
        if (depth > JsonValue::kMaxDepth) return fail("nested too deeply");
        out->type_ = JsonValue::Type::Object;
        ++pos_;
        skipSpace();
        if (peek() == '}') {
            ++pos_;
            return true;
        }
        std::set<std::string> names;
        for (;;) {
            skipSpace();
            if (peek() != '"') return fail("a member name in double quotes is expected");
            const size_t namePos = pos_;
            std::string name;
            if (!string(&name)) return false;
            if (!names.insert(name).second) {
                pos_ = namePos;
                return fail("duplicate member name");
            }
            skipSpace();
            if (peek() != ':') return fail("':' is expected after a member name");
            ++pos_;
            skipSpace();
            JsonValue member;
            if (!value(&member, depth)) return false;
            out->members_.emplace_back(std::move(name), std::move(member));
            skipSpace();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == '}') {
                ++pos_;
                return true;
            }
            return fail("',' or '}' is expected");
        }
    }

    bool array(JsonValue* out, int depth) {
        if (depth > JsonValue::kMaxDepth) return fail("nested too deeply");
        out->type_ = JsonValue::Type::Array;
        ++pos_;
        skipSpace();
        if (peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipSpace();
            JsonValue item;
            if (!value(&item, depth)) return false;
            out->items_.push_back(std::move(item));
            skipSpace();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == ']') {
                ++pos_;
                return true;
            }
            return fail("',' or ']' is expected");
        }
    }

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    bool number(JsonValue* out) {
        const size_t start = pos_;
        if (peek() == '-') ++pos_;
        if (peek() == '0') {
            ++pos_;
            if (isDigit(peek())) return fail("a number may not start with 0");
        } else if (isDigit(peek())) {
            while (isDigit(peek())) ++pos_;
        } else {
            return fail("a digit is expected");
        }
        bool plain = true;
        if (peek() == '.') {
            plain = false;
            ++pos_;
            if (!isDigit(peek())) return fail("a digit is expected after '.'");
            while (isDigit(peek())) ++pos_;
        }
        if (peek() == 'e' || peek() == 'E') {
            plain = false;
            ++pos_;
            if (peek() == '+' || peek() == '-') ++pos_;
            if (!isDigit(peek())) return fail("a digit is expected in the exponent");
            while (isDigit(peek())) ++pos_;
        }
        const char* first = text_.data() + start;
        const char* last = text_.data() + pos_;
        double d = 0.0;
        auto parsed = std::from_chars(first, last, d);
        if (parsed.ec == std::errc::result_out_of_range || !std::isfinite(d)) {
            pos_ = start;
            return fail("number out of range");
        }
        if (parsed.ec != std::errc() || parsed.ptr != last) {
            pos_ = start;
            return fail("malformed number");
        }
        out->type_ = JsonValue::Type::Number;
        out->number_ = d;
        out->integral_ = false;
        if (plain) {
            int64_t i = 0;
            auto exact = std::from_chars(first, last, i);
            if (exact.ec == std::errc() && exact.ptr == last) {
                out->integral_ = true;
                out->integer_ = i;
            }
        } else if (std::trunc(d) == d && std::fabs(d) < 9007199254740992.0) {
            // Up to 2^53 a double holds every integer exactly.
            out->integral_ = true;
            out->integer_ = static_cast<int64_t>(d);
        }
        return true;
    }

    bool hex4(uint32_t* unit) {
        if (text_.size() - pos_ < 4) return fail("four hex digits are expected after \\u");
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_ + i];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= uint32_t(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= uint32_t(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= uint32_t(c - 'A' + 10);
            else
                return fail("four hex digits are expected after \\u");
        }
        pos_ += 4;
        *unit = v;
        return true;
    }

    static void appendUtf8(std::string* out, uint32_t cp) {
        if (cp < 0x80) {
            out->push_back(char(cp));
        } else if (cp < 0x800) {
            out->push_back(char(0xC0 | (cp >> 6)));
            out->push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out->push_back(char(0xE0 | (cp >> 12)));
            out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out->push_back(char(0xF0 | (cp >> 18)));
            out->push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(char(0x80 | (cp & 0x3F)));
        }
    }

    // One UTF-8 sequence, checked: shortest form, no surrogates, at most U+10FFFF.
    bool utf8Sequence(std::string* out) {
        const auto lead = static_cast<unsigned char>(text_[pos_]);
        int length = 0;
        uint32_t cp = 0, min = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, cp = lead & 0x1F, min = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, cp = lead & 0x0F, min = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, cp = lead & 0x07, min = 0x10000;
        } else {
            return fail("invalid UTF-8");
        }
        if (text_.size() - pos_ < size_t(length)) return fail("invalid UTF-8");
        for (int i = 1; i < length; ++i) {
            const auto c = static_cast<unsigned char>(text_[pos_ + i]);
            if ((c & 0xC0) != 0x80) return fail("invalid UTF-8");
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return fail("invalid UTF-8");
        out->append(text_.substr(pos_, size_t(length)));
        pos_ += size_t(length);
        return true;
    }

    bool string(std::string* out) {
        ++pos_;  // the opening quote
        for (;;) {
            if (atEnd()) return fail("unterminated string");
            const char c = text_[pos_];
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) return fail("control character in a string");
            if (static_cast<unsigned char>(c) >= 0x80) {
                if (!utf8Sequence(out)) return false;
                continue;
            }
            if (c != '\\') {
                out->push_back(c);
                ++pos_;
                continue;
            }
            ++pos_;
            if (atEnd()) return fail("unterminated string");
            const char e = text_[pos_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out->push_back(e);
                    break;
                case 'b':
                    out->push_back('\b');
                    break;
                case 'f':
                    out->push_back('\f');
                    break;
                case 'n':
                    out->push_back('\n');
                    break;
                case 'r':
                    out->push_back('\r');
                    break;
                case 't':
                    out->push_back('\t');
                    break;
                case 'u': {
                    uint32_t unit = 0;
                    if (!hex4(&unit)) return false;
                    if (unit >= 0xDC00 && unit <= 0xDFFF) return fail("a low surrogate without a high one");
                    if (unit >= 0xD800 && unit <= 0xDBFF) {
                        uint32_t low = 0;
                        if (text_.substr(pos_, 2) != "\\u") return fail("a high surrogate without a low one");
                        pos_ += 2;
                        if (!hex4(&low)) return false;
                        if (low < 0xDC00 || low > 0xDFFF) return fail("a high surrogate without a low one");
                        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    }
                    appendUtf8(out, unit);
                    break;
                }
                default:
                    --pos_;
                    return fail("unknown escape");
            }
        }
    }

    std::string_view text_;
    size_t pos_ = 0;
    size_t failPos_ = 0;
    std::string reason_;
};

bool JsonValue::parse(std::string_view text, JsonValue* out, std::string* error) {
    JsonReader reader(text);
    JsonValue value;
    if (!reader.document(&value)) {
        if (error) *error = reader.error();
        return false;
    }
    if (out) *out = std::move(value);
    return true;
}

const JsonValue* JsonValue::find(std::string_view name) const {
    for (const auto& member : members_)
        if (member.first == name) return &member.second;
    return nullptr;
}

const char* JsonValue::typeName(Type type) {
    switch (type) {
        case Type::Null:
            return "null";
        case Type::Boolean:
            return "a boolean";
        case Type::Number:
            return "a number";
        case Type::String:
            return "a string";
        case Type::Array:
            return "an array";
        case Type::Object:
            return "an object";
    }
    return "a value";
}
