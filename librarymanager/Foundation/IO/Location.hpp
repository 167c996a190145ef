// Locations, names and relative locations.
//
// Path syntax of local locations (docs/formats/locations.md):
//   - A local location is an absolute POSIX path. '/' is the only separator;
//     every other byte (a backslash included) belongs to a name.
//   - Repeated separators and "." components are dropped, a trailing '/' is
//     dropped, ".." removes the name before it. The root is "/".
//   - A path that does not start with '/', or whose ".." climbs above the
//     root, or that contains a zero byte, makes a location whose GetStatus is
//     ErrBadLocation. Its text is kept, so two such locations made from the
//     same text are equal, but no file operation accepts it.
//   - A text of the form scheme://rest (scheme: a letter followed by letters,
//     digits, '+', '-' or '.') is a URL. "file://" URLs of this machine (no
//     host, or "localhost") become the local location of their path (percent
//     escapes decoded; a malformed escape makes a bad location); other URLs
//     stay URLs: IsLocal is false and the local operations give ErrNotLocal.
//   - The empty text makes the empty location: IsEmpty is true and GetStatus
//     is 0.
#pragma once

#include "KR/Object.hpp"
#include "KR/String.hpp"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace IO {

// One path component.
class Name : public KR::Object {
public:
    Name() = default;
    Name(const char* text);        // NOLINT: implicit by design; null is empty
    Name(std::string_view text);   // NOLINT
    ~Name() override;

    operator const char*() const noexcept { return text_.c_str(); }  // NOLINT
    const char* ToCStr() const noexcept { return text_.c_str(); }
    const std::string& Std() const noexcept { return text_; }
    bool IsEmpty() const noexcept { return text_.empty(); }
    std::size_t GetLength() const noexcept { return text_.size(); }

    // A name usable as a path component: not empty, not "." or "..", without
    // '/' and without zero bytes.
    bool IsValid() const noexcept;

    // Pointer into the name just after its last dot, or null when the name
    // has no extension (no dot, only a leading dot, or nothing after the dot).
    const char* FindExtension() const noexcept;

    friend bool operator==(const Name& a, const Name& b) noexcept { return a.text_ == b.text_; }
    friend bool operator!=(const Name& a, const Name& b) noexcept { return a.text_ != b.text_; }

    // A counted string through the channel's protocol.
    KR::ErrorCode Read(KR::IChannel& channel) override;
    KR::ErrorCode Write(KR::OChannel& channel) const override;

private:
    std::string text_;
};

// A sequence of names leading from one folder to an entry below it.
// Names are indexed from 0.
class RelativeLocation : public KR::Object {
public:
    RelativeLocation() = default;
    // From "a/b/c"; empty components and "." are dropped. A ".." makes the
    // relative location invalid (IsValid false).
    explicit RelativeLocation(std::string_view path);
    ~RelativeLocation() override;

    std::uint32_t GetLength() const noexcept { return static_cast<std::uint32_t>(names_.size()); }
    bool IsEmpty() const noexcept { return names_.empty(); }
    bool IsValid() const noexcept { return valid_; }

    // Name `index` (0 .. GetLength() - 1); KR::ErrIllegalArgument otherwise.
    KR::ErrorCode GetName(std::uint32_t index, Name* name) const;
    // The last name; the empty name when the relative location is empty.
    Name GetLastName() const;
    // Replaces the last name (appends when empty); ErrBadName for an invalid name.
    KR::ErrorCode SetLastName(const Name& name);
    // KR::ErrIllegalArgument when empty.
    KR::ErrorCode DeleteLastName();
    KR::ErrorCode AppendName(const Name& name);

    // The names joined with '/'.
    std::string ToString() const;

    friend bool operator==(const RelativeLocation& a, const RelativeLocation& b) noexcept
    {
        return a.names_ == b.names_ && a.valid_ == b.valid_;
    }

private:
    std::vector<Name> names_;
    bool valid_ = true;
};

class Location : public KR::Object {
public:
    Location() = default;
    Location(const char* text);         // NOLINT: implicit by design
    Location(std::string_view text);    // NOLINT
    Location(const std::string& text);  // NOLINT
    // `parent` joined with `name`; an invalid name makes a bad location.
    Location(const Location& parent, const Name& name);
    Location(const Location&) = default;
    Location(Location&&) noexcept = default;
    Location& operator=(const Location&) = default;
    Location& operator=(Location&&) noexcept = default;
    ~Location() override;

    bool IsEmpty() const noexcept { return kind_ == Kind::Empty; }
    bool IsLocal() const noexcept { return kind_ == Kind::Local || kind_ == Kind::BadLocal; }
    bool IsURL() const noexcept { return kind_ == Kind::URL; }
    // 0 for the empty location, a well-formed local path or a URL;
    // ErrBadLocation otherwise.
    KR::ErrorCode GetStatus() const noexcept;
    void Clear() noexcept;

    // Appends one name, or every name of a relative location.
    KR::ErrorCode AppendToLocal(const Name& name);
    KR::ErrorCode AppendToLocal(const RelativeLocation& relative);
    // Removes the last name; KR::ErrIllegalArgument at the root.
    KR::ErrorCode DeleteLastLocalName();
    // The last name (the empty name for the root).
    KR::ErrorCode GetLastLocalName(Name* name) const;

    // True when `other` lies strictly below this location.
    bool IsAncestorOf(const Location& other) const noexcept;
    // The names that lead from this location to `descendant` (empty when the
    // two are equal); ErrNotInside when `descendant` is not below.
    KR::ErrorCode GetDifference(const Location& descendant, RelativeLocation* relative) const;

    // The path of a local location (the kept text of a bad one, with
    // ErrBadLocation); ErrNotLocal for a URL.
    KR::ErrorCode ToPath(KR::String* path) const;
    // The URL: "file://" with the percent-escaped path for a local location.
    KR::ErrorCode ToURL(KR::String* url) const;
    // The text the location was made from, normalised: the path or the URL.
    const std::string& GetText() const noexcept { return text_; }

    std::size_t Hash() const noexcept;

    friend bool operator==(const Location& a, const Location& b) noexcept
    {
        return a.kind_ == b.kind_ && a.text_ == b.text_;
    }
    friend bool operator!=(const Location& a, const Location& b) noexcept { return !(a == b); }

    // Channel form: one byte of kind (0 empty, 1 local, 2 URL, 3 bad local),
    // then the text as a counted string.
    KR::ErrorCode Read(KR::IChannel& channel) override;
    KR::ErrorCode Write(KR::OChannel& channel) const override;
    void Print(KR::OChannel& channel) const override;

private:
    enum class Kind : std::uint8_t { Empty = 0, Local = 1, URL = 2, BadLocal = 3 };
    void Assign(std::string_view text);

    Kind kind_ = Kind::Empty;
    std::string text_;
};

}  // namespace IO

template <>
struct std::hash<IO::Location> {
    std::size_t operator()(const IO::Location& location) const noexcept { return location.Hash(); }
};
