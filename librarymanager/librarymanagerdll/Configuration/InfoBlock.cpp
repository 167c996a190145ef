// The items of the active libraries info block and the conversions between
// its two versions.
#include "Configuration/InfoBlock.hpp"

#include "IO/Errors.hpp"
#include "KR/Exceptions.hpp"
#include "LibraryManagerModule.hpp"

#include <cstring>

namespace LM::Info {

namespace {

constexpr const char* Source = "LibrarySet info block";

[[noreturn]] void Fail(KR::ErrorCode error, const char* what)
{
    throw KR::KRException(error, std::string("Cannot read the ") + what + " of an active libraries info block.",
                          Source);
}

void Check(KR::ErrorCode error, const char* what)
{
    if (error != KR::NoError)
        Fail(error, what);
}

void CheckWrite(KR::ErrorCode error)
{
    if (error != KR::NoError)
        throw KR::KRException(error, "Cannot write an active libraries info block.", Source);
}

std::uint32_t Reversed(std::uint32_t value) noexcept
{
    return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

// A new handle holding `size` bytes from `data`; null when it cannot be
// allocated.
char** NewHandleWith(const char* data, std::size_t size)
{
    char** handle = KR::bmManager.NewHandle(size);
    if (handle != nullptr && size > 0)
        std::memcpy(*handle, data, size);
    return handle;
}

// The path of a version 105 entry of a ':' block: every ':' becomes a
// backslash. False when the result would not fit the 512-byte buffer that
// such paths are built in.
bool ConvertColonPath(std::string* path)
{
    if (path->size() > MaxConvertedPathLength)
        return false;
    for (char& c : *path)
        if (c == ':')
            c = '\\';
    return true;
}

// A path that a version 105 block can hold: not empty (an empty path makes
// the block unreadable) and without a zero byte (which would end it early).
bool IsOldTextPath(const std::string& path) noexcept
{
    return !path.empty() && path.find('\0') == std::string::npos;
}

}  // namespace

// ----- Versions ----------------------------------------------------------------------

bool HasOldTextHeader(const char* data, std::size_t size) noexcept
{
    return data != nullptr && size >= 2 && (data[0] == 'M' || data[0] == 'W') && (data[1] == 'S' || data[1] == 's');
}

Version DetectVersion(const char* data, std::size_t size, bool swapBytes) noexcept
{
    if (data == nullptr || size < 4)
        return Version::Unknown;
    std::uint32_t first = 0;
    std::memcpy(&first, data, sizeof first);
    if (swapBytes)
        first = Reversed(first);
    if (first == static_cast<std::uint32_t>(Magic))
        return Version::Current;
    return HasOldTextHeader(data, size) ? Version::OldText : Version::Unknown;
}

std::size_t SizeOf(char** handle) noexcept
{
    if (handle == nullptr || !KR::bmManager.IsHandle(handle))
        return 0;
    return KR::bmManager.GetHandleSize(handle);
}

// ----- Reading items -------------------------------------------------------------------

ItemReader::ItemReader(const char* data, std::size_t size, bool reversed)
    : channel_(data, size, IO::Ownership::Borrow, reversed ? IO::binRevIProtocol : KR::binIProtocol)
{
}

std::int32_t ItemReader::Int32()
{
    std::int32_t value = 0;
    Check(channel_.Read(value), "32-bit number");
    return value;
}

bool ItemReader::Bool()
{
    bool value = false;
    Check(channel_.Read(value), "flag");
    return value;
}

void ItemReader::CheckCountedText(std::size_t skip)
{
    const std::size_t start = channel_.GetPosition();
    if (Remaining() < skip + 4)
        Fail(KR::ErrEndOfChannel, "text");
    channel_.SetPosition(start + skip);
    std::uint32_t count = 0;
    Check(channel_.Read(count), "text length");
    const bool fits = count <= Remaining();
    channel_.SetPosition(start);
    if (!fits)
        Fail(KR::ErrEndOfChannel, "text");
}

IO::Location ItemReader::Location()
{
    CheckCountedText(1);  // after the kind byte
    IO::Location location;
    Check(location.Read(channel_), "location");
    return location;
}

KR::String ItemReader::String()
{
    CheckCountedText(0);
    KR::String text;
    Check(text.Read(channel_), "text");
    return text;
}

ActiveLibraryList::Record ItemReader::Library()
{
    ActiveLibraryList::Record record;
    record.vital = Bool();
    record.permanent = Bool();
    record.isUrl = Bool();
    if (record.isUrl)
        record.url = String();
    else
        record.location = Location();
    return record;
}

OtherObjectList::Record ItemReader::OtherObject()
{
    OtherObjectList::Record record;
    record.location = Location();
    record.url = String();
    return record;
}

// ----- Writing items -------------------------------------------------------------------

ItemWriter::ItemWriter() : channel_() {}

void ItemWriter::Int32(std::int32_t value)
{
    CheckWrite(channel_.Write(value));
}

void ItemWriter::Bool(bool value)
{
    CheckWrite(channel_.Write(value));
}

void ItemWriter::Location(const IO::Location& location)
{
    CheckWrite(location.Write(channel_));
}

void ItemWriter::String(const KR::String& text)
{
    CheckWrite(text.Write(channel_));
}

void ItemWriter::Library(const ActiveLibraryList::Record& record)
{
    Bool(record.vital);
    Bool(record.permanent);
    Bool(record.isUrl);
    if (record.isUrl)
        String(record.url);
    else
        Location(record.location);
}

void ItemWriter::OtherObject(const IO::Location& location, const KR::String& url)
{
    Location(location);
    String(url);
}

char** ItemWriter::NewHandle()
{
    const std::size_t size = channel_.GetDataSize();
    const char* data = channel_.GetDestination(IO::Ownership::Borrow);
    if (data == nullptr && size > 0)
        return nullptr;
    return NewHandleWith(data, size);
}

// ----- The old text form ------------------------------------------------------------------

KR::ErrorCode ParseOldText(const char* data, std::size_t size, OldTextBlock* block)
{
    if (block == nullptr || !HasOldTextHeader(data, size))
        return ErrBadIndex;
    const bool colonPaths = data[0] == 'M';
    // Position of the zero byte that ends the text starting at `from`; the
    // block's size when there is none.
    auto endOfText = [&](std::size_t from) {
        const void* zero = from < size ? std::memchr(data + from, 0, size - from) : nullptr;
        return zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - data) : size;
    };

    OldTextBlock parsed;
    parsed.useLanCache = data[1] == 'S';
    const std::size_t headerEnd = endOfText(2);
    if (headerEnd >= size)
        return ErrBadIndex;
    if (parsed.useLanCache)
        parsed.lanCachePath.assign(data + 2, headerEnd - 2);

    // Each entry: two prefix characters, a path, a zero byte. A zero byte
    // where the next entry would start ends the list.
    std::size_t entry = headerEnd + 1;
    if (entry >= size)
        return ErrBadIndex;
    while (data[entry] != '\0') {
        const std::size_t pathStart = entry + 2;
        if (pathStart >= size)
            return ErrBadIndex;
        const std::size_t pathEnd = endOfText(pathStart);
        if (pathEnd >= size || pathEnd == pathStart)
            return ErrBadIndex;
        std::string path(data + pathStart, pathEnd - pathStart);
        if (colonPaths && !ConvertColonPath(&path))
            return ErrBadIndex;
        parsed.paths.push_back(std::move(path));
        entry = pathEnd + 1;
        if (entry >= size)
            return ErrBadIndex;
    }
    *block = std::move(parsed);
    return KR::NoError;
}

std::string OldTextPath(const IO::Location& location)
{
    KR::String path;
    if (location.ToPath(&path) == IO::ErrNotLocal)
        return location.GetText();
    return path.Std();
}

// ----- Conversions ---------------------------------------------------------------------------

KR::ErrorCode ConvertToCurrent(char** info, char*** current, bool swapBytes, const IO::Location& urlCache,
                               const StoredFileTest& isStoredFile)
{
    if (current == nullptr)
        return ErrBadIndex;
    *current = nullptr;
    const std::size_t size = SizeOf(info);
    if (size < 4)
        return ErrBadIndex;
    const char* data = *info;
    switch (DetectVersion(data, size, swapBytes)) {
    case Version::Current:
        *current = KR::bmManager.DuplicateHandle(info);
        return KR::NoError;
    case Version::Unknown:
        return ErrBadIndex;
    case Version::OldText:
        break;
    }

    OldTextBlock old;
    if (KR::ErrorCode error = ParseOldText(data, size, &old); error != KR::NoError)
        return error;
    // Each entry is looked at once: files of a storable type become other
    // objects, everything else (folders, missing items, other files)
    // libraries, each list in entry order.
    std::vector<IO::Location> libraries;
    std::vector<IO::Location> storedFiles;
    for (const std::string& path : old.paths) {
        IO::Location location(path);
        (isStoredFile && isStoredFile(location) ? storedFiles : libraries).push_back(std::move(location));
    }

    ItemWriter out;
    out.Int32(Magic);
    out.Bool(old.useLanCache);
    if (old.useLanCache)
        out.Location(IO::Location(old.lanCachePath));
    out.Location(urlCache);
    out.Int32(static_cast<std::int32_t>(libraries.size()));
    for (const IO::Location& location : libraries) {
        ActiveLibraryList::Record record;
        record.location = location;
        out.Library(record);
    }
    out.Int32(static_cast<std::int32_t>(storedFiles.size()));
    for (const IO::Location& location : storedFiles)
        out.OtherObject(location, KR::String());
    out.Int32(Magic);

    char** block = out.NewHandle();
    if (block == nullptr)
        return KR::ErrMemFull;
    *current = block;
    return KR::NoError;
}

KR::ErrorCode ConvertToOld(char** current, std::int32_t version, char*** old)
{
    if (old == nullptr)
        return ErrBadIndex;
    *old = nullptr;
    if (version == 0 || version == 201) {
        *old = KR::bmManager.DuplicateHandle(current);
        return *old != nullptr ? KR::NoError : KR::ErrMemFull;
    }
    if (version != 105)
        return KR::NoError;

    const std::size_t size = SizeOf(current);
    if (size < 4)
        return ErrBadIndex;
    ItemReader in(*current, size, false);
    if (in.Int32() != Magic)
        return ErrBadIndex;

    // This module always writes paths in this platform's form ('W').
    std::string text = "W";
    const bool useLanCache = in.Bool();
    text += useLanCache ? 'S' : 's';
    if (useLanCache) {
        const std::string path = OldTextPath(in.Location());
        if (path.find('\0') == std::string::npos)
            text += path;
    }
    text += '\0';
    (void)in.Location();  // the URL cache location has no place in the text form
    const std::int32_t count = in.Int32();
    for (std::int32_t i = 0; i < count; ++i) {
        const ActiveLibraryList::Record record = in.Library();
        if (record.isUrl)
            continue;  // URL libraries have no place in the text form
        const std::string path = OldTextPath(record.location);
        if (!IsOldTextPath(path))
            continue;
        text += "WW";
        text += path;
        text += '\0';
    }
    text += '\0';

    char** block = NewHandleWith(text.data(), text.size());
    if (block == nullptr)
        return KR::ErrMemFull;
    *old = block;
    return KR::NoError;
}

}  // namespace LM::Info
