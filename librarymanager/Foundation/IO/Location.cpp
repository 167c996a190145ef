#include "IO/Location.hpp"

#include "IO/Errors.hpp"
#include "IO/Internal.hpp"
#include "KR/Channel.hpp"
#include "KR/Hex.hpp"

#include <cstring>
#include <utility>

namespace IO {

namespace {

// Longest text a Name or a Location accepts from a channel. Far above any
// real path, low enough that a damaged count cannot exhaust memory.
constexpr std::size_t MaxChannelText = 64u * 1024u;

bool IsAsciiLetter(char c) noexcept
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsAsciiDigit(char c) noexcept
{
    return c >= '0' && c <= '9';
}

char ToLowerAscii(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i]))
            return false;
    return true;
}

// Length of the scheme when `text` has the form scheme://..., else 0.
std::size_t SchemeLength(std::string_view text) noexcept
{
    if (text.empty() || !IsAsciiLetter(text[0]))
        return 0;
    std::size_t i = 1;
    while (i < text.size() &&
           (IsAsciiLetter(text[i]) || IsAsciiDigit(text[i]) || text[i] == '+' || text[i] == '-' || text[i] == '.'))
        ++i;
    if (text.substr(i, 3) != "://")
        return 0;
    return i;
}

// Decodes %XX escapes; false for a '%' not followed by two hex digits.
bool PercentDecode(std::string_view text, std::string* out)
{
    out->clear();
    out->reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out->push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int high = KR::HexValue(text[i + 1]);
        const int low = KR::HexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return false;
        out->push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return true;
}

// Normalises an absolute path: drops empty and "." components and resolves
// "..". False for a relative path, a zero byte or ".." above the root.
bool NormalisePath(std::string_view path, std::string* out)
{
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string_view::npos)
        return false;
    std::string result;
    result.reserve(path.size());
    std::size_t pos = 0;
    while (pos < path.size()) {
        while (pos < path.size() && path[pos] == '/')
            ++pos;
        if (pos >= path.size())
            break;
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view component = path.substr(pos, end - pos);
        pos = end;
        if (component == ".")
            continue;
        if (component == "..") {
            if (result.empty())
                return false;
            result.resize(result.rfind('/'));
            continue;
        }
        result.push_back('/');
        result.append(component);
    }
    if (result.empty())
        result.push_back('/');  // the root
    *out = std::move(result);
    return true;
}

}  // namespace

namespace Internal {

std::string PercentEncode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsAsciiLetter(c) || IsAsciiDigit(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(KR::UpperHexDigits[byte >> 4]);
            out.push_back(KR::UpperHexDigits[byte & 0x0F]);
        }
    }
    return out;
}

}  // namespace Internal

// --- Name ------------------------------------------------------------------

Name::Name(const char* text) : text_(text != nullptr ? text : "") {}

Name::Name(std::string_view text) : text_(text) {}

Name::~Name() = default;

bool Name::IsValid() const noexcept
{
    return !text_.empty() && text_ != "." && text_ != ".." && text_.find('/') == std::string::npos &&
           text_.find('\0') == std::string::npos;
}

const char* Name::FindExtension() const noexcept
{
    const std::size_t dot = text_.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == text_.size())
        return nullptr;
    return text_.c_str() + dot + 1;
}

KR::ErrorCode Name::Read(KR::IChannel& channel)
{
    std::string value;
    const KR::ErrorCode err = channel.ReadString(&value, MaxChannelText);
    if (err == KR::NoError)
        text_ = std::move(value);
    return err;
}

KR::ErrorCode Name::Write(KR::OChannel& channel) const
{
    return channel.WriteString(text_);
}

// --- RelativeLocation ------------------------------------------------------

RelativeLocation::RelativeLocation(std::string_view path)
{
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view component = path.substr(pos, end - pos);
        pos = end + 1;
        if (component.empty() || component == ".")
            continue;
        Name name(component);
        if (!name.IsValid())
            valid_ = false;
        names_.push_back(std::move(name));
    }
}

RelativeLocation::~RelativeLocation() = default;

KR::ErrorCode RelativeLocation::GetName(std::uint32_t index, Name* name) const
{
    if (name == nullptr || index >= names_.size())
        return KR::ErrIllegalArgument;
    *name = names_[index];
    return KR::NoError;
}

Name RelativeLocation::GetLastName() const
{
    return names_.empty() ? Name() : names_.back();
}

KR::ErrorCode RelativeLocation::SetLastName(const Name& name)
{
    if (!name.IsValid())
        return ErrBadName;
    if (names_.empty())
        names_.push_back(name);
    else
        names_.back() = name;
    return KR::NoError;
}

KR::ErrorCode RelativeLocation::DeleteLastName()
{
    if (names_.empty())
        return KR::ErrIllegalArgument;
    names_.pop_back();
    return KR::NoError;
}

KR::ErrorCode RelativeLocation::AppendName(const Name& name)
{
    if (!name.IsValid())
        return ErrBadName;
    names_.push_back(name);
    return KR::NoError;
}

std::string RelativeLocation::ToString() const
{
    std::string result;
    for (const Name& name : names_) {
        if (!result.empty())
            result.push_back('/');
        result.append(name.Std());
    }
    return result;
}

// --- Location --------------------------------------------------------------

Location::Location(const char* text)
{
    Assign(text != nullptr ? std::string_view(text) : std::string_view());
}

Location::Location(std::string_view text)
{
    Assign(text);
}

Location::Location(const std::string& text)
{
    Assign(text);
}

Location::Location(const Location& parent, const Name& name) : Location(parent)
{
    if (AppendToLocal(name) != KR::NoError) {
        std::string text = parent.text_;
        if (!text.empty() && text.back() != '/')
            text.push_back('/');
        text.append(name.Std());
        if (text.empty())
            text.push_back('.');  // a bad location always keeps some text
        kind_ = Kind::BadLocal;
        text_ = std::move(text);
    }
}

Location::~Location() = default;

void Location::Assign(std::string_view text)
{
    if (text.empty()) {
        kind_ = Kind::Empty;
        text_.clear();
        return;
    }
    const std::size_t schemeLength = SchemeLength(text);
    if (schemeLength > 0) {
        if (!EqualsIgnoringCase(text.substr(0, schemeLength), "file")) {
            kind_ = Kind::URL;
            text_ = std::string(text);
            return;
        }
        // file://host/path: only the local host ("" or "localhost") names
        // this machine; a file URL of another host stays a URL.
        const std::string_view rest = text.substr(schemeLength + 3);
        const std::size_t slash = rest.find('/');
        const std::string_view host = rest.substr(0, slash);
        if (!host.empty() && !EqualsIgnoringCase(host, "localhost")) {
            kind_ = Kind::URL;
            text_ = std::string(text);
            return;
        }
        std::string decoded;
        std::string normalised;
        if (slash != std::string_view::npos && PercentDecode(rest.substr(slash), &decoded) &&
            NormalisePath(decoded, &normalised)) {
            kind_ = Kind::Local;
            text_ = std::move(normalised);
        } else {
            kind_ = Kind::BadLocal;
            text_ = std::string(text);
        }
        return;
    }
    std::string normalised;
    if (NormalisePath(text, &normalised)) {
        kind_ = Kind::Local;
        text_ = std::move(normalised);
    } else {
        kind_ = Kind::BadLocal;
        text_ = std::string(text);
    }
}

KR::ErrorCode Location::GetStatus() const noexcept
{
    return kind_ == Kind::BadLocal ? ErrBadLocation : KR::NoError;
}

void Location::Clear() noexcept
{
    kind_ = Kind::Empty;
    text_.clear();
}

KR::ErrorCode Location::AppendToLocal(const Name& name)
{
    if (kind_ == Kind::URL)
        return ErrNotLocal;
    if (kind_ != Kind::Local)
        return ErrBadLocation;
    if (!name.IsValid())
        return ErrBadName;
    if (text_.size() > 1)
        text_.push_back('/');
    text_.append(name.Std());
    return KR::NoError;
}

KR::ErrorCode Location::AppendToLocal(const RelativeLocation& relative)
{
    if (kind_ == Kind::URL)
        return ErrNotLocal;
    if (kind_ != Kind::Local)
        return ErrBadLocation;
    if (!relative.IsValid())
        return ErrBadName;
    std::string text = text_;
    for (std::uint32_t i = 0; i < relative.GetLength(); ++i) {
        Name name;
        relative.GetName(i, &name);
        if (!name.IsValid())
            return ErrBadName;
        if (text.size() > 1)
            text.push_back('/');
        text.append(name.Std());
    }
    text_ = std::move(text);
    return KR::NoError;
}

KR::ErrorCode Location::DeleteLastLocalName()
{
    if (kind_ == Kind::URL)
        return ErrNotLocal;
    if (kind_ != Kind::Local)
        return ErrBadLocation;
    if (text_ == "/")
        return KR::ErrIllegalArgument;
    const std::size_t slash = text_.rfind('/');
    text_.resize(slash == 0 ? 1 : slash);
    return KR::NoError;
}

KR::ErrorCode Location::GetLastLocalName(Name* name) const
{
    if (name == nullptr)
        return KR::ErrIllegalArgument;
    if (kind_ == Kind::URL)
        return ErrNotLocal;
    if (kind_ != Kind::Local)
        return ErrBadLocation;
    *name = Name(std::string_view(text_).substr(text_.rfind('/') + 1));
    return KR::NoError;
}

bool Location::IsAncestorOf(const Location& other) const noexcept
{
    if (kind_ != Kind::Local || other.kind_ != Kind::Local || other.text_.size() <= text_.size())
        return false;
    if (other.text_.compare(0, text_.size(), text_) != 0)
        return false;
    // Whole names only: "/a/b" is above "/a/b/c" but not above "/a/bc".
    return text_ == "/" || other.text_[text_.size()] == '/';
}

KR::ErrorCode Location::GetDifference(const Location& descendant, RelativeLocation* relative) const
{
    if (relative == nullptr)
        return KR::ErrIllegalArgument;
    if (kind_ == Kind::URL || descendant.kind_ == Kind::URL)
        return ErrNotLocal;
    if (kind_ != Kind::Local || descendant.kind_ != Kind::Local)
        return ErrBadLocation;
    if (*this == descendant) {
        *relative = RelativeLocation();
        return KR::NoError;
    }
    if (!IsAncestorOf(descendant))
        return ErrNotInside;
    *relative = RelativeLocation(std::string_view(descendant.text_).substr(text_.size()));
    return KR::NoError;
}

KR::ErrorCode Location::ToPath(KR::String* path) const
{
    if (path == nullptr)
        return KR::ErrIllegalArgument;
    switch (kind_) {
    case Kind::Local:
        *path = text_;
        return KR::NoError;
    case Kind::BadLocal:
        *path = text_;
        return ErrBadLocation;
    case Kind::URL:
        return ErrNotLocal;
    case Kind::Empty:
        break;
    }
    *path = "";
    return ErrBadLocation;
}

KR::ErrorCode Location::ToURL(KR::String* url) const
{
    if (url == nullptr)
        return KR::ErrIllegalArgument;
    switch (kind_) {
    case Kind::Local:
        *url = "file://" + Internal::PercentEncode(text_);
        return KR::NoError;
    case Kind::URL:
        *url = text_;
        return KR::NoError;
    case Kind::BadLocal:
    case Kind::Empty:
        break;
    }
    return ErrBadLocation;
}

std::size_t Location::Hash() const noexcept
{
    const std::size_t h = std::hash<std::string>{}(text_);
    return h ^ (static_cast<std::size_t>(kind_) * 0x9E3779B97F4A7C15ull);
}

KR::ErrorCode Location::Read(KR::IChannel& channel)
{
    std::uint8_t kindByte = 0;
    KR::ErrorCode err = channel.Read(kindByte);
    if (err != KR::NoError)
        return err;
    if (kindByte > static_cast<std::uint8_t>(Kind::BadLocal))
        return KR::ErrBadFormat;
    std::string text;
    err = channel.ReadString(&text, MaxChannelText);
    if (err != KR::NoError)
        return err;

    // The kind and the text must agree: a reader never gets a location that
    // the constructors could not have made.
    const auto kind = static_cast<Kind>(kindByte);
    Location parsed;
    switch (kind) {
    case Kind::Empty:
        if (!text.empty())
            return KR::ErrBadFormat;
        break;
    case Kind::Local:
    case Kind::URL:
        parsed.Assign(text);
        if (parsed.kind_ != kind || parsed.text_ != text)
            return KR::ErrBadFormat;
        break;
    case Kind::BadLocal:
        // Any kept text: a bad location made by joining a bad name may look
        // like a good path or a URL, and no file operation accepts it anyway.
        if (text.empty())
            return KR::ErrBadFormat;
        break;
    }
    kind_ = kind;
    text_ = std::move(text);
    return KR::NoError;
}

KR::ErrorCode Location::Write(KR::OChannel& channel) const
{
    const KR::ErrorCode err = channel.Write(static_cast<std::uint8_t>(kind_));
    if (err != KR::NoError)
        return err;
    return channel.WriteString(text_);
}

void Location::Print(KR::OChannel& channel) const
{
    channel.WriteBin(text_.data(), text_.size());
}

}  // namespace IO
