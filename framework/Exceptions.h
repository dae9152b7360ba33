#pragma once
// The framework's exception record and its classes. Every exception carries a fixed
// 128-unit UTF-16 message (at most 127 characters, zero-terminated, rest zero), a code
// and an extra value, and is copied whole when thrown and caught.
#include <cstdint>
#include <string_view>

class IException {
public:
    static constexpr int kMessageUnits = 128;

    virtual ~IException() = default;

    const char16_t* message() const { return message_; }
    int32_t code() const { return code_; }
    int32_t extra() const { return extra_; }

protected:
    IException(std::u16string_view text, int32_t code, int32_t extra = 0);

private:
    char16_t message_[kMessageUnits];
    int32_t code_;
    int32_t extra_;
};

// Categories of graphics and media construction failures. The number is chosen by the
// raiser; its name is the message when no text is given.
class directx_exception : public IException {
public:
    directx_exception(int category, int32_t code, const char16_t* text = nullptr);
    static std::u16string_view categoryName(int category);
};

class smart_ptr_exception : public IException {
public:
    static constexpr int32_t kEmpty = 1;
    static constexpr int32_t kIndexOutOfRange = 2;
    explicit smart_ptr_exception(int32_t reason);
};

class interface_ptr_exception : public IException {
public:
    static constexpr int32_t kEmpty = 1;
    explicit interface_ptr_exception(int32_t reason);
};
