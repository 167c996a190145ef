// Input and output channels.
//
// A channel moves bytes (ReadBin/WriteBin, implemented by each concrete
// channel) and, through its protocol, typed values. The protocol decides how
// a value becomes bytes:
//   - binOProtocol / binIProtocol: binary, multi-byte integers in this
//     machine's byte order;
//   - binRevOProtocol / binRevIProtocol: binary, multi-byte integers in the
//     reversed byte order (for data of a platform of the other byte order);
//   - textOProtocol: values printed as text (numbers in decimal, bools as
//     "true"/"false", strings without terminator), for diagnostic prints.
//
// Binary encodings (documented in docs/formats/channels.md):
//   8/16/32-bit integers  1/2/4 bytes
//   bool                  1 byte, 0 or 1 (any non-zero byte reads as true)
//   char                  1 byte
//   C string              the bytes and a terminating zero byte
//   string                unsigned 32-bit byte count, then the bytes
//   object                whatever the object's Write puts
//
// Every operation returns an error code (0 for success). A channel also
// remembers the first error of its typed writes made with operator<<, which
// GetStatus reports, so that a print can be written as a chain and checked
// once.
#pragma once

#include "KR/Definitions.hpp"
#include "KR/Object.hpp"

#include <cstdio>
#include <string>
#include <string_view>

namespace KR {

class IChannel;
class OChannel;

class OProtocol {
public:
    virtual ~OProtocol();
    virtual ErrorCode WriteUInt8(OChannel& channel, std::uint8_t value) const = 0;
    virtual ErrorCode WriteInt8(OChannel& channel, std::int8_t value) const = 0;
    virtual ErrorCode WriteUInt16(OChannel& channel, std::uint16_t value) const = 0;
    virtual ErrorCode WriteInt16(OChannel& channel, std::int16_t value) const = 0;
    virtual ErrorCode WriteUInt32(OChannel& channel, std::uint32_t value) const = 0;
    virtual ErrorCode WriteInt32(OChannel& channel, std::int32_t value) const = 0;
    virtual ErrorCode WriteBool(OChannel& channel, bool value) const = 0;
    virtual ErrorCode WriteChar(OChannel& channel, char value) const = 0;
    virtual ErrorCode WriteCStr(OChannel& channel, const char* text) const = 0;
    virtual ErrorCode WriteString(OChannel& channel, const char* data, std::size_t length) const = 0;
};

class IProtocol {
public:
    virtual ~IProtocol();
    virtual ErrorCode ReadUInt8(IChannel& channel, std::uint8_t* value) const = 0;
    virtual ErrorCode ReadInt8(IChannel& channel, std::int8_t* value) const = 0;
    virtual ErrorCode ReadUInt16(IChannel& channel, std::uint16_t* value) const = 0;
    virtual ErrorCode ReadInt16(IChannel& channel, std::int16_t* value) const = 0;
    virtual ErrorCode ReadUInt32(IChannel& channel, std::uint32_t* value) const = 0;
    virtual ErrorCode ReadInt32(IChannel& channel, std::int32_t* value) const = 0;
    virtual ErrorCode ReadBool(IChannel& channel, bool* value) const = 0;
    virtual ErrorCode ReadChar(IChannel& channel, char* value) const = 0;
    // Reads a C string into `buffer` of `capacity` bytes (terminator
    // included). A string that does not fit gives ErrBadFormat.
    virtual ErrorCode ReadCStr(IChannel& channel, char* buffer, std::size_t capacity) const = 0;
    // Reads a counted string. A count above `maxLength` gives ErrBadFormat
    // before anything is allocated.
    virtual ErrorCode ReadString(IChannel& channel, std::string* value, std::size_t maxLength) const = 0;
};

// Binary protocols, in this machine's byte order and reversed.
class BinaryOProtocol : public OProtocol {
public:
    explicit BinaryOProtocol(bool reversed) noexcept : reversed_(reversed) {}
    ErrorCode WriteUInt8(OChannel& channel, std::uint8_t value) const override;
    ErrorCode WriteInt8(OChannel& channel, std::int8_t value) const override;
    ErrorCode WriteUInt16(OChannel& channel, std::uint16_t value) const override;
    ErrorCode WriteInt16(OChannel& channel, std::int16_t value) const override;
    ErrorCode WriteUInt32(OChannel& channel, std::uint32_t value) const override;
    ErrorCode WriteInt32(OChannel& channel, std::int32_t value) const override;
    ErrorCode WriteBool(OChannel& channel, bool value) const override;
    ErrorCode WriteChar(OChannel& channel, char value) const override;
    ErrorCode WriteCStr(OChannel& channel, const char* text) const override;
    ErrorCode WriteString(OChannel& channel, const char* data, std::size_t length) const override;

private:
    bool reversed_;
};

class BinaryIProtocol : public IProtocol {
public:
    explicit BinaryIProtocol(bool reversed) noexcept : reversed_(reversed) {}
    ErrorCode ReadUInt8(IChannel& channel, std::uint8_t* value) const override;
    ErrorCode ReadInt8(IChannel& channel, std::int8_t* value) const override;
    ErrorCode ReadUInt16(IChannel& channel, std::uint16_t* value) const override;
    ErrorCode ReadInt16(IChannel& channel, std::int16_t* value) const override;
    ErrorCode ReadUInt32(IChannel& channel, std::uint32_t* value) const override;
    ErrorCode ReadInt32(IChannel& channel, std::int32_t* value) const override;
    ErrorCode ReadBool(IChannel& channel, bool* value) const override;
    ErrorCode ReadChar(IChannel& channel, char* value) const override;
    ErrorCode ReadCStr(IChannel& channel, char* buffer, std::size_t capacity) const override;
    ErrorCode ReadString(IChannel& channel, std::string* value, std::size_t maxLength) const override;

private:
    bool reversed_;
};

// Prints values as text. Strings and C strings are written as their bytes.
class TextOProtocol : public OProtocol {
public:
    ErrorCode WriteUInt8(OChannel& channel, std::uint8_t value) const override;
    ErrorCode WriteInt8(OChannel& channel, std::int8_t value) const override;
    ErrorCode WriteUInt16(OChannel& channel, std::uint16_t value) const override;
    ErrorCode WriteInt16(OChannel& channel, std::int16_t value) const override;
    ErrorCode WriteUInt32(OChannel& channel, std::uint32_t value) const override;
    ErrorCode WriteInt32(OChannel& channel, std::int32_t value) const override;
    ErrorCode WriteBool(OChannel& channel, bool value) const override;
    ErrorCode WriteChar(OChannel& channel, char value) const override;
    ErrorCode WriteCStr(OChannel& channel, const char* text) const override;
    ErrorCode WriteString(OChannel& channel, const char* data, std::size_t length) const override;
};

extern const BinaryOProtocol binOProtocol;
extern const BinaryOProtocol binRevOProtocol;
extern const BinaryIProtocol binIProtocol;
extern const BinaryIProtocol binRevIProtocol;
extern const TextOProtocol textOProtocol;

// Largest string that ReadString accepts unless a caller says otherwise.
inline constexpr std::size_t DefaultMaxStringLength = 16u * 1024u * 1024u;

class OChannel {
public:
    explicit OChannel(const OProtocol& protocol = binOProtocol) noexcept : protocol_(&protocol) {}
    OChannel(const OChannel&) = delete;
    OChannel& operator=(const OChannel&) = delete;
    virtual ~OChannel();

    // Writes `size` raw bytes; `*written` (when given) receives the number of
    // bytes actually written, also on failure.
    virtual ErrorCode WriteBin(const void* data, std::size_t size, std::size_t* written = nullptr) = 0;
    // Pushes buffered bytes to their destination; the default does nothing.
    virtual ErrorCode Flush();

    const OProtocol& GetProtocol() const noexcept { return *protocol_; }
    void SetProtocol(const OProtocol& protocol) noexcept { protocol_ = &protocol; }

    ErrorCode Write(std::uint8_t value) { return protocol_->WriteUInt8(*this, value); }
    ErrorCode Write(std::int8_t value) { return protocol_->WriteInt8(*this, value); }
    ErrorCode Write(std::uint16_t value) { return protocol_->WriteUInt16(*this, value); }
    ErrorCode Write(std::int16_t value) { return protocol_->WriteInt16(*this, value); }
    ErrorCode Write(std::uint32_t value) { return protocol_->WriteUInt32(*this, value); }
    ErrorCode Write(std::int32_t value) { return protocol_->WriteInt32(*this, value); }
    ErrorCode Write(bool value) { return protocol_->WriteBool(*this, value); }
    ErrorCode Write(char value) { return protocol_->WriteChar(*this, value); }
    ErrorCode Write(const char* text) { return protocol_->WriteCStr(*this, text); }
    ErrorCode Write(const Object& object) { return object.Write(*this); }
    ErrorCode WriteString(const char* data, std::size_t length) { return protocol_->WriteString(*this, data, length); }
    ErrorCode WriteString(std::string_view text) { return protocol_->WriteString(*this, text.data(), text.size()); }

    // Chained typed writes; the first failure is kept in the status.
    template <typename T>
    OChannel& operator<<(const T& value)
    {
        Remember(Write(value));
        return *this;
    }
    OChannel& operator<<(std::string_view text)
    {
        Remember(WriteString(text));
        return *this;
    }
    OChannel& operator<<(const std::string& text) { return *this << std::string_view(text); }

    ErrorCode GetStatus() const noexcept { return status_; }
    void ResetStatus() noexcept { status_ = NoError; }

protected:
    void Remember(ErrorCode err) noexcept
    {
        if (status_ == NoError)
            status_ = err;
    }

private:
    const OProtocol* protocol_;
    ErrorCode status_ = NoError;
};

class IChannel {
public:
    explicit IChannel(const IProtocol& protocol = binIProtocol) noexcept : protocol_(&protocol) {}
    IChannel(const IChannel&) = delete;
    IChannel& operator=(const IChannel&) = delete;
    virtual ~IChannel();

    // Reads exactly `size` raw bytes. When fewer are available the bytes
    // that were there are stored, `*read` (when given) receives their number
    // and the result is ErrEndOfChannel.
    virtual ErrorCode ReadBin(void* buffer, std::size_t size, std::size_t* read = nullptr) = 0;

    const IProtocol& GetProtocol() const noexcept { return *protocol_; }
    void SetProtocol(const IProtocol& protocol) noexcept { protocol_ = &protocol; }

    ErrorCode Read(std::uint8_t& value) { return protocol_->ReadUInt8(*this, &value); }
    ErrorCode Read(std::int8_t& value) { return protocol_->ReadInt8(*this, &value); }
    ErrorCode Read(std::uint16_t& value) { return protocol_->ReadUInt16(*this, &value); }
    ErrorCode Read(std::int16_t& value) { return protocol_->ReadInt16(*this, &value); }
    ErrorCode Read(std::uint32_t& value) { return protocol_->ReadUInt32(*this, &value); }
    ErrorCode Read(std::int32_t& value) { return protocol_->ReadInt32(*this, &value); }
    ErrorCode Read(bool& value) { return protocol_->ReadBool(*this, &value); }
    ErrorCode Read(char& value) { return protocol_->ReadChar(*this, &value); }
    ErrorCode Read(char* buffer, std::size_t capacity) { return protocol_->ReadCStr(*this, buffer, capacity); }
    ErrorCode Read(Object& object) { return object.Read(*this); }
    ErrorCode ReadString(std::string* value, std::size_t maxLength = DefaultMaxStringLength)
    {
        return protocol_->ReadString(*this, value, maxLength);
    }

private:
    const IProtocol* protocol_;
};

// An output channel that collects its bytes in a string. Text protocol by
// default, so it captures prints; give it binOProtocol to build binary data.
class StringOChannel : public OChannel {
public:
    explicit StringOChannel(const OProtocol& protocol = textOProtocol) noexcept : OChannel(protocol) {}
    ErrorCode WriteBin(const void* data, std::size_t size, std::size_t* written = nullptr) override;

    const std::string& GetText() const noexcept { return text_; }
    std::string Take() noexcept;
    void Clear() noexcept { text_.clear(); }

private:
    std::string text_;
};

// An input channel over a copy of some bytes.
class StringIChannel : public IChannel {
public:
    explicit StringIChannel(std::string data, const IProtocol& protocol = binIProtocol)
        : IChannel(protocol), data_(std::move(data))
    {
    }
    ErrorCode ReadBin(void* buffer, std::size_t size, std::size_t* read = nullptr) override;

    std::size_t GetPosition() const noexcept { return position_; }
    std::size_t GetRemaining() const noexcept { return data_.size() - position_; }

private:
    std::string data_;
    std::size_t position_ = 0;
};

// A text output channel over a C stream (stdout, stderr or an open file).
// The stream is not closed by the channel.
class FileOChannel : public OChannel {
public:
    explicit FileOChannel(std::FILE* stream, const OProtocol& protocol = textOProtocol) noexcept
        : OChannel(protocol), stream_(stream)
    {
    }
    ErrorCode WriteBin(const void* data, std::size_t size, std::size_t* written = nullptr) override;
    ErrorCode Flush() override;

private:
    std::FILE* stream_;
};

// Brackets an object's data with its class. The frame header is: the tag
// 0x4B52464D ("KRFM"), the class name as a C string, the major and the minor
// class version (one byte each). Close writes the end tag 0x4B52464E. Tags
// are 32-bit integers in the channel protocol's byte order. A class name of
// 256 bytes or more is refused (ErrIllegalArgument) since no reader takes it.
class OutputFrame {
public:
    OutputFrame(OChannel& channel, const ClassInfo& classInfo);
    ~OutputFrame();  // closes the frame when Close was not called
    OutputFrame(const OutputFrame&) = delete;
    OutputFrame& operator=(const OutputFrame&) = delete;

    ErrorCode GetStatus() const noexcept { return status_; }
    ErrorCode Close();

private:
    OChannel& channel_;
    ErrorCode status_;
    bool closed_ = false;
};

// Reads a frame header and checks it against the expected class: another
// class name gives ErrFrameClass, a newer major version ErrFrameVersion.
// A header that is not a frame gives ErrBadFormat.
class InputFrame {
public:
    InputFrame(IChannel& channel, const ClassInfo& classInfo);
    ~InputFrame();  // reads the end tag when the header was good and Close was not called
    InputFrame(const InputFrame&) = delete;
    InputFrame& operator=(const InputFrame&) = delete;

    ErrorCode GetStatus() const noexcept { return status_; }
    // Version found in the stream (valid when GetStatus is 0).
    ClassVersion GetVersion() const noexcept { return version_; }
    // Reads and checks the end tag; ErrBadFormat when it is not there.
    ErrorCode Close();

private:
    IChannel& channel_;
    ErrorCode status_;
    ClassVersion version_{};
    bool closed_ = false;
};

}  // namespace KR
