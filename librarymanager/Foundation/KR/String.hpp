// A byte string that is also a persistent object.
#pragma once

#include "KR/Object.hpp"

#include <string>
#include <string_view>

namespace KR {

class String : public Object {
public:
    static const ClassInfo classInfo;  // "KR::String", 1.0

    String() = default;
    String(const char* text);  // NOLINT: implicit by design; null is empty
    String(const char* data, std::size_t length);
    String(std::string_view text);  // NOLINT
    String(const std::string& text);  // NOLINT
    String(const String&) = default;
    String(String&&) noexcept = default;
    String& operator=(const String&) = default;
    String& operator=(String&&) noexcept = default;
    String& operator=(const char* text);
    ~String() override;

    bool IsEmpty() const noexcept { return text_.empty(); }
    // Zero-terminated; valid until the string changes.
    const char* ToCStr() const noexcept { return text_.c_str(); }
    std::uint32_t GetLength() const noexcept { return static_cast<std::uint32_t>(text_.size()); }
    // Cuts the string or extends it with zero bytes.
    void SetLength(std::uint32_t length);
    const std::string& Std() const noexcept { return text_; }

    friend bool operator==(const String& a, const String& b) noexcept { return a.text_ == b.text_; }
    friend bool operator!=(const String& a, const String& b) noexcept { return a.text_ != b.text_; }

    const ClassInfo* Get_ClassInfo() const override;
    Object* Clone() const override;
    // A counted string through the channel's protocol.
    ErrorCode Read(IChannel& channel) override;
    ErrorCode Write(OChannel& channel) const override;
    void Print(OChannel& channel) const override;

private:
    std::string text_;
};

}  // namespace KR
