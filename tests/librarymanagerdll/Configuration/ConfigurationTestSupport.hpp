// Helpers of the configuration tests: info blocks built byte by byte from
// their format description, in either byte order, and sets to write and
// restore them.
#pragma once

#include "Configuration/InfoBlock.hpp"
#include "KR/Memory.hpp"
#include "LibrarySet.hpp"
#include "Support/Handles.hpp"
#include "librarymanagerdll/LibrarySet/LibrarySetTestSupport.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ConfigTest {

using TestSupport::OwnedHandle;

// The bytes of a block, item by item. Numbers (and the counts of texts) are
// little-endian unless `bigEndian`.
class BlockBytes {
public:
    explicit BlockBytes(bool bigEndian = false) : big_(bigEndian) {}

    BlockBytes& Int32(std::uint32_t value)
    {
        for (int i = 0; i < 4; ++i) {
            const int shift = big_ ? 24 - 8 * i : 8 * i;
            bytes_ += static_cast<char>((value >> shift) & 0xFF);
        }
        return *this;
    }
    BlockBytes& Magic() { return Int32(0x4C323036); }
    BlockBytes& Bool(bool value)
    {
        bytes_ += static_cast<char>(value ? 1 : 0);
        return *this;
    }
    // A counted text: 32-bit byte count, then the bytes.
    BlockBytes& Text(std::string_view text)
    {
        Int32(static_cast<std::uint32_t>(text.size()));
        bytes_.append(text);
        return *this;
    }
    // A location: kind byte (0 empty, 1 local, 2 URL, 3 bad), then its text.
    BlockBytes& Location(std::string_view path)
    {
        std::uint8_t kind = 0;
        if (!path.empty())
            kind = path.front() == '/' ? 1 : (path.find("://") != std::string_view::npos ? 2 : 3);
        bytes_ += static_cast<char>(kind);
        return Text(path);
    }
    BlockBytes& Library(bool vital, bool permanent, std::string_view location)
    {
        return Bool(vital).Bool(permanent).Bool(false).Location(location);
    }
    BlockBytes& UrlLibrary(bool vital, bool permanent, std::string_view url)
    {
        return Bool(vital).Bool(permanent).Bool(true).Text(url);
    }
    BlockBytes& Raw(std::string_view bytes)
    {
        bytes_.append(bytes);
        return *this;
    }
    const std::string& Str() const noexcept { return bytes_; }

private:
    bool big_;
    std::string bytes_;
};

// What a set holds, for comparing whole configurations.
struct LibraryView {
    std::string location;
    std::string url;
    bool vital = false;
    bool permanent = false;
    bool operator==(const LibraryView&) const = default;
};
struct OtherView {
    std::string location;
    std::string url;
    bool urlFlag = false;
    std::string name;
    bool operator==(const OtherView&) const = default;
};

inline std::vector<LibraryView> Libraries(LM::LibrarySet& set)
{
    std::vector<LibraryView> out;
    for (std::int32_t i = 0; i < set.GetActiveLibraryNum(); ++i) {
        IO::Location location;
        KR::String url;
        set.GetActiveLibraryLocation(i, &location);
        set.GetActiveLibraryUrl(i, &url);
        out.push_back({location.GetText(), url.Std(), set.IsVitalActiveLibrary(i), set.IsPermanentActiveLibrary(i)});
    }
    return out;
}

inline std::vector<OtherView> OtherObjects(LM::LibrarySet& set)
{
    std::vector<OtherView> out;
    for (std::int32_t i = 0; i < set.GetOtherObjectNum(); ++i) {
        IO::Location location;
        KR::String url, name;
        set.GetOtherObjectLocation(i, &location);
        set.GetOtherObjectUrl(i, &url);
        set.GetOtherObjectName(i, &name);
        out.push_back({location.GetText(), url.Std(), set.IsUrlOtherObject(i), name.Std()});
    }
    return out;
}

// The block of `version` that `set` writes; empty when it gives none.
inline std::string InfoOf(LM::LibrarySet& set, bool withPermanent = true, std::int32_t version = 0)
{
    char** info = nullptr;
    return set.GetActiveLibrariesInfo(&info, withPermanent, version) == KR::NoError ? OwnedHandle(info).Bytes() : "";
}

inline std::int32_t Restore(LM::LibrarySet& set, std::string_view bytes, bool swapBytes = false)
{
    return set.SetActiveLibrariesFromInfo(OwnedHandle(bytes).h, swapBytes);
}

inline bool IsEqual(const LM::LibrarySet& set, std::string_view bytes, bool withPermanent, bool compareCaches)
{
    return set.IsEqualActiveLibraries(OwnedHandle(bytes).h, withPermanent, compareCaches);
}

inline std::int32_t Merge(LM::LibrarySet& set, std::string_view bytes)
{
    return set.MergeActiveLibraries(OwnedHandle(bytes).h);
}

}  // namespace ConfigTest
