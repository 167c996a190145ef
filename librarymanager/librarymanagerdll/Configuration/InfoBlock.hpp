// The active libraries info block, the stored form of a set's configuration,
// in its two versions (docs/formats/active-libraries-info.md):
//   - 201, binary: items written through a memory channel in the writer's
//     byte order, framed by the magic "L206";
//   - 105, text: zero-terminated texts (the LAN cache folder and one path per
//     library), read the same on every platform.
// The item reader, the item writer and the conversions between the versions.
// Internal.
#pragma once

#include "IO/Location.hpp"
#include "IO/MemoryChannel.hpp"
#include "KR/Memory.hpp"
#include "KR/String.hpp"
#include "LibrarySet/ActiveLibraryList.hpp"
#include "LibrarySet/OtherObjectList.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace LM::Info {

// First and last item of a version 201 block; as raw bytes it also tells the
// writer's byte order (36 30 32 4C little-endian, 4C 32 30 36 big-endian).
inline constexpr std::int32_t Magic = 0x4C323036;  // "L206"

// Longest path that a version 105 block of the ':' form may give once its
// separators are converted (the converted path and its terminator fill at
// most 512 bytes).
inline constexpr std::size_t MaxConvertedPathLength = 511;

enum class Version { Current, OldText, Unknown };

// The version of `size` bytes at `data`: Current when the first four bytes,
// read in this platform's byte order (reversed when `swapBytes`), are the
// magic; else OldText when the first two bytes are 'M' or 'W' and 'S' or 's';
// else Unknown. Blocks shorter than 4 bytes are Unknown.
Version DetectVersion(const char* data, std::size_t size, bool swapBytes) noexcept;
// The first two bytes have the form of a version 105 block.
bool HasOldTextHeader(const char* data, std::size_t size) noexcept;

// The size of a handle; 0 for a null or foreign one.
std::size_t SizeOf(char** handle) noexcept;

// Frees the handle it holds when it goes.
class HandleOwner {
public:
    explicit HandleOwner(char** handle = nullptr) noexcept : handle_(handle) {}
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;
    ~HandleOwner()
    {
        if (handle_ != nullptr)
            KR::bmManager.KillHandle(handle_);
    }
    char** Get() const noexcept { return handle_; }
    char** Release() noexcept
    {
        char** handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    char** handle_;
};

// Reads the items of a version 201 block. Every read checks the bytes left
// first; an item that is not there, or is malformed, raises a KRException
// whose id is the channel's error (KR::ErrEndOfChannel, KR::ErrBadFormat).
// Counted texts are checked against the bytes left before anything is
// allocated for them.
class ItemReader {
public:
    // `reversed`: the block was written on a platform of the other byte order.
    ItemReader(const char* data, std::size_t size, bool reversed);

    std::int32_t Int32();
    bool Bool();
    IO::Location Location();
    KR::String String();
    ActiveLibraryList::Record Library();
    OtherObjectList::Record OtherObject();

    std::size_t Remaining() const noexcept { return channel_.GetDataSize() - channel_.GetPosition(); }

private:
    // Fails unless the counted text that starts `skip` bytes ahead fits in
    // the bytes left.
    void CheckCountedText(std::size_t skip);

    IO::MemoryIChannel channel_;
};

// Writes the items of a version 201 block in this platform's byte order. A
// write that fails raises a KRException with its error.
class ItemWriter {
public:
    ItemWriter();

    void Int32(std::int32_t value);
    void Bool(bool value);
    void Location(const IO::Location& location);
    void String(const KR::String& text);
    void Library(const ActiveLibraryList::Record& record);
    void OtherObject(const IO::Location& location, const KR::String& url);

    // A new handle holding exactly the bytes written; null when it cannot be
    // allocated.
    char** NewHandle();

private:
    IO::MemoryOChannel channel_;
};

// The content of a version 105 block.
struct OldTextBlock {
    bool useLanCache = false;
    std::string lanCachePath;        // unchanged, also in a ':' block
    std::vector<std::string> paths;  // the entries' paths, ':' converted to '\' in a ':' block
};

// Parses a version 105 block. ErrBadIndex when the header form is wrong, an
// entry's path is empty, a converted path is longer than
// MaxConvertedPathLength, or a text or the final zero byte is missing
// before the block ends. Bytes after the final zero byte are not read.
KR::ErrorCode ParseOldText(const char* data, std::size_t size, OldTextBlock* block);

// The version 105 path of a location: its path, or the text of a location
// that has none (a URL).
std::string OldTextPath(const IO::Location& location);

// Tells whether a location of a version 105 entry names a stored file (an
// existing file of a storable type), which becomes an other object.
using StoredFileTest = std::function<bool(const IO::Location&)>;

// `*current` receives a new version 201 copy of `info` (either version). A
// version 105 block takes `urlCache` as its URL cache location. ErrBadIndex
// for a null `current`, a block shorter than 4 bytes, of neither version, or
// a version 105 block that ParseOldText refuses; KR::ErrMemFull when the new
// block cannot be allocated. A failed copy of a version 201 block leaves
// `*current` null and gives 0.
KR::ErrorCode ConvertToCurrent(char** info, char*** current, bool swapBytes, const IO::Location& urlCache,
                               const StoredFileTest& isStoredFile);

// `*old` receives a new block of `version` made from the version 201 block
// `current`: a copy for 0 and 201, the text form for 105, null for any other
// version (result 0). ErrBadIndex for a null `old` or a `current` without
// the magic; KR::ErrMemFull when the new block cannot be allocated. Only the
// items up to the library records are read.
KR::ErrorCode ConvertToOld(char** current, std::int32_t version, char*** old);

}  // namespace LM::Info
