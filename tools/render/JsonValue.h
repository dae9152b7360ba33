#pragma once
// A JSON document (RFC 8259) read strictly: no comments, no trailing commas, no leading
// zeros or bare decimal points, no control characters inside strings, valid UTF-8 and
// \u escapes (surrogates only in pairs), no duplicate member names, nothing after the
// value but white space. Nesting deeper than kMaxDepth is refused rather than risking
// the stack.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class JsonValue {
public:
    enum class Type { Null, Boolean, Number, String, Array, Object };
    static constexpr int kMaxDepth = 64;

    // The whole text as one value; false with "line L, column C: reason" in *error.
    static bool parse(std::string_view text, JsonValue* out, std::string* error);

    Type type() const { return type_; }
    bool isNumber() const { return type_ == Type::Number; }
    // A number with no fraction that fits in 64 bits exactly (written without a
    // fraction or exponent, or with ones that leave an integer, e.g. 1.0 or 2e3).
    bool isInteger() const { return type_ == Type::Number && integral_; }

    bool boolean() const { return boolean_; }
    double number() const { return number_; }
    int64_t integer() const { return integer_; }
    const std::string& text() const { return text_; }
    const std::vector<JsonValue>& items() const { return items_; }
    const std::vector<std::pair<std::string, JsonValue>>& members() const { return members_; }
    // The member of an object with that name, or null.
    const JsonValue* find(std::string_view name) const;

    static const char* typeName(Type type);

private:
    friend class JsonReader;

    Type type_ = Type::Null;
    bool boolean_ = false;
    bool integral_ = false;
    double number_ = 0.0;
    int64_t integer_ = 0;
    std::string text_;
    std::vector<JsonValue> items_;
    std::vector<std::pair<std::string, JsonValue>> members_;
};
