#include "KR/Channel.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <type_traits>

namespace KR {

const BinaryOProtocol binOProtocol(false);
const BinaryOProtocol binRevOProtocol(true);
const BinaryIProtocol binIProtocol(false);
const BinaryIProtocol binRevIProtocol(true);
const TextOProtocol textOProtocol;

OProtocol::~OProtocol() = default;
IProtocol::~IProtocol() = default;
OChannel::~OChannel() = default;
IChannel::~IChannel() = default;

ErrorCode OChannel::Flush()
{
    return NoError;
}

namespace {

constexpr std::uint32_t FrameTag = 0x4B52464Du;     // "KRFM"
constexpr std::uint32_t FrameEndTag = 0x4B52464Eu;  // "KRFN"
// Capacity of the class name buffer of an input frame, terminator included.
constexpr std::size_t FrameNameCapacity = 256;
// Counted strings are read in pieces of this size, so that a forged count
// cannot make the reader allocate more than the data that actually arrives.
constexpr std::size_t StringChunk = 64 * 1024;

std::uint16_t Swap(std::uint16_t v) noexcept
{
    return __builtin_bswap16(v);
}

std::uint32_t Swap(std::uint32_t v) noexcept
{
    return __builtin_bswap32(v);
}

template <typename U>
ErrorCode WriteUnsigned(OChannel& channel, U value, bool reversed)
{
    if (reversed)
        value = Swap(value);
    unsigned char bytes[sizeof(U)];
    std::memcpy(bytes, &value, sizeof(U));
    return channel.WriteBin(bytes, sizeof(U));
}

template <typename U>
ErrorCode ReadUnsigned(IChannel& channel, U* value, bool reversed)
{
    if (value == nullptr)
        return ErrParam;
    unsigned char bytes[sizeof(U)];
    ErrorCode err = channel.ReadBin(bytes, sizeof(U));
    if (err != NoError)
        return err;
    U v;
    std::memcpy(&v, bytes, sizeof(U));
    *value = reversed ? Swap(v) : v;
    return NoError;
}

// A signed value: the bits of the unsigned value of its size.
template <typename S>
ErrorCode ReadSigned(IChannel& channel, S* value, bool reversed)
{
    if (value == nullptr)
        return ErrParam;
    std::make_unsigned_t<S> v = 0;
    const ErrorCode err = ReadUnsigned(channel, &v, reversed);
    if (err == NoError)
        *value = static_cast<S>(v);
    return err;
}

ErrorCode ReadByte(IChannel& channel, std::uint8_t* value)
{
    if (value == nullptr)
        return ErrParam;
    return channel.ReadBin(value, 1);
}

template <typename T>
ErrorCode WriteDecimal(OChannel& channel, T value)
{
    char text[24];
    auto result = std::to_chars(text, text + sizeof text, value);
    return channel.WriteBin(text, static_cast<std::size_t>(result.ptr - text));
}

}  // namespace

// --- Binary output ---------------------------------------------------------

ErrorCode BinaryOProtocol::WriteUInt8(OChannel& channel, std::uint8_t value) const
{
    return channel.WriteBin(&value, 1);
}

ErrorCode BinaryOProtocol::WriteInt8(OChannel& channel, std::int8_t value) const
{
    return WriteUInt8(channel, static_cast<std::uint8_t>(value));
}

ErrorCode BinaryOProtocol::WriteUInt16(OChannel& channel, std::uint16_t value) const
{
    return WriteUnsigned(channel, value, reversed_);
}

ErrorCode BinaryOProtocol::WriteInt16(OChannel& channel, std::int16_t value) const
{
    return WriteUnsigned(channel, static_cast<std::uint16_t>(value), reversed_);
}

ErrorCode BinaryOProtocol::WriteUInt32(OChannel& channel, std::uint32_t value) const
{
    return WriteUnsigned(channel, value, reversed_);
}

ErrorCode BinaryOProtocol::WriteInt32(OChannel& channel, std::int32_t value) const
{
    return WriteUnsigned(channel, static_cast<std::uint32_t>(value), reversed_);
}

ErrorCode BinaryOProtocol::WriteBool(OChannel& channel, bool value) const
{
    return WriteUInt8(channel, value ? 1 : 0);
}

ErrorCode BinaryOProtocol::WriteChar(OChannel& channel, char value) const
{
    return channel.WriteBin(&value, 1);
}

ErrorCode BinaryOProtocol::WriteCStr(OChannel& channel, const char* text) const
{
    // A null text is written as the empty text: just the terminator.
    if (text == nullptr)
        text = "";
    return channel.WriteBin(text, std::strlen(text) + 1);
}

ErrorCode BinaryOProtocol::WriteString(OChannel& channel, const char* data, std::size_t length) const
{
    if (data == nullptr && length != 0)
        return ErrParam;
    if (length > std::numeric_limits<std::uint32_t>::max())
        return ErrIllegalArgument;
    ErrorCode err = WriteUInt32(channel, static_cast<std::uint32_t>(length));
    if (err != NoError || length == 0)
        return err;
    return channel.WriteBin(data, length);
}

// --- Binary input ----------------------------------------------------------

ErrorCode BinaryIProtocol::ReadUInt8(IChannel& channel, std::uint8_t* value) const
{
    return ReadByte(channel, value);
}

ErrorCode BinaryIProtocol::ReadInt8(IChannel& channel, std::int8_t* value) const
{
    if (value == nullptr)
        return ErrParam;
    std::uint8_t v = 0;
    ErrorCode err = ReadByte(channel, &v);
    if (err == NoError)
        *value = static_cast<std::int8_t>(v);
    return err;
}

ErrorCode BinaryIProtocol::ReadUInt16(IChannel& channel, std::uint16_t* value) const
{
    return ReadUnsigned(channel, value, reversed_);
}

ErrorCode BinaryIProtocol::ReadInt16(IChannel& channel, std::int16_t* value) const
{
    return ReadSigned(channel, value, reversed_);
}

ErrorCode BinaryIProtocol::ReadUInt32(IChannel& channel, std::uint32_t* value) const
{
    return ReadUnsigned(channel, value, reversed_);
}

ErrorCode BinaryIProtocol::ReadInt32(IChannel& channel, std::int32_t* value) const
{
    return ReadSigned(channel, value, reversed_);
}

ErrorCode BinaryIProtocol::ReadBool(IChannel& channel, bool* value) const
{
    if (value == nullptr)
        return ErrParam;
    std::uint8_t v = 0;
    ErrorCode err = ReadByte(channel, &v);
    if (err == NoError)
        *value = v != 0;
    return err;
}

ErrorCode BinaryIProtocol::ReadChar(IChannel& channel, char* value) const
{
    if (value == nullptr)
        return ErrParam;
    return channel.ReadBin(value, 1);
}

ErrorCode BinaryIProtocol::ReadCStr(IChannel& channel, char* buffer, std::size_t capacity) const
{
    if (buffer == nullptr || capacity == 0)
        return ErrParam;
    for (std::size_t i = 0;; ++i) {
        char c = 0;
        ErrorCode err = channel.ReadBin(&c, 1);
        if (err != NoError) {
            buffer[i] = '\0';
            return err;
        }
        if (c == '\0') {
            buffer[i] = '\0';
            return NoError;
        }
        if (i + 1 >= capacity) {
            // No room left for this character and the terminator.
            buffer[i] = '\0';
            return ErrBadFormat;
        }
        buffer[i] = c;
    }
}

ErrorCode BinaryIProtocol::ReadString(IChannel& channel, std::string* value, std::size_t maxLength) const
{
    if (value == nullptr)
        return ErrParam;
    std::uint32_t count = 0;
    ErrorCode err = ReadUInt32(channel, &count);
    if (err != NoError)
        return err;
    if (count > maxLength)
        return ErrBadFormat;
    std::string text;
    try {
        std::size_t remaining = count;
        while (remaining > 0) {
            std::size_t piece = std::min(remaining, StringChunk);
            std::size_t old = text.size();
            text.resize(old + piece);
            err = channel.ReadBin(text.data() + old, piece);
            if (err != NoError)
                return err;
            remaining -= piece;
        }
    } catch (const std::bad_alloc&) {
        return ErrMemFull;
    }
    *value = std::move(text);
    return NoError;
}

// --- Text output -----------------------------------------------------------

ErrorCode TextOProtocol::WriteUInt8(OChannel& channel, std::uint8_t value) const
{
    return WriteDecimal(channel, value);
}

ErrorCode TextOProtocol::WriteInt8(OChannel& channel, std::int8_t value) const
{
    return WriteDecimal(channel, value);
}

ErrorCode TextOProtocol::WriteUInt16(OChannel& channel, std::uint16_t value) const
{
    return WriteDecimal(channel, value);
}

ErrorCode TextOProtocol::WriteInt16(OChannel& channel, std::int16_t value) const
{
    return WriteDecimal(channel, value);
}

ErrorCode TextOProtocol::WriteUInt32(OChannel& channel, std::uint32_t value) const
{
    return WriteDecimal(channel, value);
}

ErrorCode TextOProtocol::WriteInt32(OChannel& channel, std::int32_t value) const
{
    return WriteDecimal(channel, value);
}

ErrorCode TextOProtocol::WriteBool(OChannel& channel, bool value) const
{
    return value ? channel.WriteBin("true", 4) : channel.WriteBin("false", 5);
}

ErrorCode TextOProtocol::WriteChar(OChannel& channel, char value) const
{
    return channel.WriteBin(&value, 1);
}

ErrorCode TextOProtocol::WriteCStr(OChannel& channel, const char* text) const
{
    if (text == nullptr)
        return NoError;
    return channel.WriteBin(text, std::strlen(text));
}

ErrorCode TextOProtocol::WriteString(OChannel& channel, const char* data, std::size_t length) const
{
    if (data == nullptr && length != 0)
        return ErrParam;
    return channel.WriteBin(data, length);
}

// --- Concrete channels -----------------------------------------------------

ErrorCode StringOChannel::WriteBin(const void* data, std::size_t size, std::size_t* written)
{
    if (written != nullptr)
        *written = 0;
    if (size == 0)
        return NoError;
    if (data == nullptr)
        return ErrParam;
    try {
        text_.append(static_cast<const char*>(data), size);
    } catch (const std::bad_alloc&) {
        return ErrMemFull;
    } catch (const std::length_error&) {
        return ErrMemFull;
    }
    if (written != nullptr)
        *written = size;
    return NoError;
}

std::string StringOChannel::Take() noexcept
{
    std::string text = std::move(text_);
    text_.clear();
    return text;
}

ErrorCode StringIChannel::ReadBin(void* buffer, std::size_t size, std::size_t* read)
{
    if (read != nullptr)
        *read = 0;
    if (size == 0)
        return NoError;
    if (buffer == nullptr)
        return ErrParam;
    std::size_t n = std::min(size, data_.size() - position_);
    if (n > 0)
        std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    if (read != nullptr)
        *read = n;
    return n == size ? NoError : ErrEndOfChannel;
}

ErrorCode FileOChannel::WriteBin(const void* data, std::size_t size, std::size_t* written)
{
    if (written != nullptr)
        *written = 0;
    if (stream_ == nullptr)
        return ErrChannelClosed;
    if (size == 0)
        return NoError;
    if (data == nullptr)
        return ErrParam;
    std::size_t n = std::fwrite(data, 1, size, stream_);
    if (written != nullptr)
        *written = n;
    return n == size ? NoError : ErrInternal;
}

ErrorCode FileOChannel::Flush()
{
    if (stream_ == nullptr)
        return ErrChannelClosed;
    return std::fflush(stream_) == 0 ? NoError : ErrInternal;
}

// --- Frames ----------------------------------------------------------------

OutputFrame::OutputFrame(OChannel& channel, const ClassInfo& classInfo) : channel_(channel), status_(NoError)
{
    const char* name = classInfo.GetName();
    // A name that a reader could not take back is refused before anything
    // is written.
    if (name == nullptr || std::strlen(name) >= FrameNameCapacity) {
        status_ = ErrIllegalArgument;
        return;
    }
    ClassVersion version = classInfo.GetVersion();
    status_ = channel_.GetProtocol().WriteUInt32(channel_, FrameTag);
    if (status_ == NoError)
        status_ = channel_.GetProtocol().WriteCStr(channel_, name);
    if (status_ == NoError)
        status_ = channel_.GetProtocol().WriteUInt8(channel_, version.major);
    if (status_ == NoError)
        status_ = channel_.GetProtocol().WriteUInt8(channel_, version.minor);
}

OutputFrame::~OutputFrame()
{
    if (!closed_)
        Close();
}

ErrorCode OutputFrame::Close()
{
    if (closed_)
        return status_;
    closed_ = true;
    // A frame whose header failed gets no end tag: its data is already lost.
    if (status_ == NoError)
        status_ = channel_.GetProtocol().WriteUInt32(channel_, FrameEndTag);
    return status_;
}

InputFrame::InputFrame(IChannel& channel, const ClassInfo& classInfo) : channel_(channel), status_(NoError)
{
    const IProtocol& protocol = channel_.GetProtocol();
    std::uint32_t tag = 0;
    status_ = protocol.ReadUInt32(channel_, &tag);
    if (status_ != NoError)
        return;
    if (tag != FrameTag) {
        status_ = ErrBadFormat;
        return;
    }
    char name[FrameNameCapacity];
    status_ = protocol.ReadCStr(channel_, name, sizeof name);
    if (status_ != NoError)
        return;
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
    status_ = protocol.ReadUInt8(channel_, &major);
    if (status_ == NoError)
        status_ = protocol.ReadUInt8(channel_, &minor);
    if (status_ != NoError)
        return;
    version_ = ClassVersion{major, minor};
    const char* expected = classInfo.GetName();
    if (expected == nullptr || std::strcmp(name, expected) != 0)
        status_ = ErrFrameClass;
    else if (major > classInfo.GetVersion().major)
        status_ = ErrFrameVersion;
}

InputFrame::~InputFrame()
{
    // Consume the end tag when the reader did not, so that what follows the
    // frame on the channel can still be read.
    if (!closed_ && status_ == NoError)
        Close();
}

ErrorCode InputFrame::Close()
{
    if (closed_)
        return status_;
    closed_ = true;
    if (status_ != NoError)
        return status_;
    std::uint32_t tag = 0;
    ErrorCode err = channel_.GetProtocol().ReadUInt32(channel_, &tag);
    if (err != NoError || tag != FrameEndTag)
        status_ = ErrBadFormat;
    return status_;
}

}  // namespace KR
