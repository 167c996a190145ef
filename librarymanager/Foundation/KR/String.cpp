#include "KR/String.hpp"

#include "KR/Channel.hpp"

#include <utility>

namespace KR {

const ClassInfo String::classInfo("KR::String", ClassVersion{1, 0}, &Object::classInfo);

String::String(const char* text) : text_(text != nullptr ? text : "") {}

String::String(const char* data, std::size_t length) : text_(data != nullptr ? std::string(data, length) : std::string()) {}

String::String(std::string_view text) : text_(text) {}

String::String(const std::string& text) : text_(text) {}

String& String::operator=(const char* text)
{
    if (text == nullptr)
        text_.clear();
    else
        text_.assign(text);
    return *this;
}

String::~String() = default;

void String::SetLength(std::uint32_t length)
{
    text_.resize(length, '\0');
}

const ClassInfo* String::Get_ClassInfo() const
{
    return &classInfo;
}

Object* String::Clone() const
{
    return new String(*this);
}

ErrorCode String::Read(IChannel& channel)
{
    std::string value;
    ErrorCode err = channel.ReadString(&value);
    if (err == NoError)
        text_ = std::move(value);
    return err;
}

ErrorCode String::Write(OChannel& channel) const
{
    return channel.WriteString(text_);
}

void String::Print(OChannel& channel) const
{
    channel.WriteBin(text_.data(), text_.size());
}

}  // namespace KR
