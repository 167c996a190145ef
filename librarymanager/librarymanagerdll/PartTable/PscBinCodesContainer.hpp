// The shared container of compiled script codes of one cache folder, and the
// process-wide registry that keeps one container per folder. Internal.
//
// A container holds one item per (part, script type): the compiled code the
// application handed over and the ancestry section the part had when it was
// compiled. The items are read from the folder's container file when the
// container is made (the table only; the code bytes are read when first
// asked for) and the file is replaced by a new one when the container is
// destroyed, after dropping codes that were not used for a while. The file's
// layout is documented in docs/formats/script-code-cache.md.
#pragma once

#include "IO/File.hpp"
#include "IO/Folder.hpp"
#include "IO/Location.hpp"
#include "KR/Containers.hpp"
#include "KR/Events.hpp"
#include "KR/GUID.hpp"
#include "KR/Object.hpp"
#include "KRUtils/KRUtils.hpp"
#include "PscBinCodes.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace LM {

class LibrarySet;

// One compiled code. Keys: the part's own UnID and the script type; the
// location of the part file is the key when the UnID is NULLUnID. Only the
// keys, the use statistics and the positions in the file are written; the
// handles hold what was loaded or set while the container lives and are
// owned by the item.
class PscBinCodeItem : public KR::Object {
public:
    // Bytes of the record of the in-memory item that the file header gives;
    // a reader ignores it.
    static constexpr std::uint32_t RecordSize = 112;
    // Smallest item record in a file: two GUIDs, a location of one kind byte
    // and an empty text, the script type and six 32-bit words.
    static constexpr std::size_t MinRecordBytes = 16 + 16 + 5 + 2 + 6 * 4;

    PscBinCodeItem() = default;
    PscBinCodeItem(const KR::UnID& id, const IO::Location& location, std::int16_t scriptType);
    PscBinCodeItem(PscBinCodeItem&& other) noexcept;
    PscBinCodeItem& operator=(PscBinCodeItem&& other) noexcept;
    PscBinCodeItem(const PscBinCodeItem&) = delete;
    PscBinCodeItem& operator=(const PscBinCodeItem&) = delete;
    ~PscBinCodeItem() override;

    // The stored fields, in the order of the file's item record. Read leaves
    // the fields that are not stored at their defaults.
    KR::ErrorCode Read(KR::IChannel& channel) override;
    KR::ErrorCode Write(KR::OChannel& channel) const override;

    // Releases both handles.
    void ReleaseHandles() noexcept;

    KR::UnID partId = NULLUnID;
    IO::Location location;
    std::int16_t scriptType = -1;
    std::uint32_t codeOffset = 0;
    std::uint32_t ancestryOffset = 0;
    std::uint32_t codeSize = 0;
    std::uint32_t ancestrySize = 0;
    bool checked = false;
    std::int32_t useCount = 0;
    std::int32_t lastUse = 0;
    char** code = nullptr;
    char** ancestry = nullptr;
};

// The library sets that use the container are its observers.
class PscBinCodesContainer : public KR::EventSource {
public:
    static constexpr std::uint32_t Magic = 0x4C323037;
    static constexpr std::uint16_t ArrayVersion = 1;
    static constexpr std::int32_t AllocationStep = 50;
    // Magic, timestamp, array version, count, allocation step, record size.
    static constexpr std::size_t HeaderBytes = 4 + 4 + 2 + 4 + 4 + 4;
    // An item used this many times or more survives the half-month rule of
    // the purge.
    static constexpr std::int32_t FrequentUseCount = 5;

    // Reads the container file of `cacheFolder` (text table entry 6 followed
    // by ".dat"). A missing, foreign, truncated or damaged file gives an
    // empty container.
    explicit PscBinCodesContainer(const IO::Location& cacheFolder);
    PscBinCodesContainer(const PscBinCodesContainer&) = delete;
    PscBinCodesContainer& operator=(const PscBinCodesContainer&) = delete;
    // Purges when due and replaces the container file by a new one.
    ~PscBinCodesContainer() override;

    const IO::Folder& GetFolder() const noexcept { return folder_; }
    const char* GetFileName() const noexcept { return fileName_; }
    std::int32_t GetTimestamp() const noexcept { return timestamp_; }
    // Number of items (cleared ones included).
    std::int32_t GetCount() const noexcept { return static_cast<std::int32_t>(items_.GetSize()); }
    // Item `k` (1 .. count) for inspection; IllegalArgumentException otherwise.
    const PscBinCodeItem& GetItem(std::int32_t k) const { return items_[static_cast<std::uint32_t>(k)]; }

    // The first item of this part and script type, or -1. For NULLUnID the
    // part is known by its location (an item with another UnID but this
    // location counts too); otherwise by the UnID in both GUIDs.
    std::int32_t Find(const KR::UnID& id, const IO::Location& location, std::int16_t scriptType) const;
    bool IsValidIndex(std::int32_t k) const noexcept { return k >= 1 && k <= GetCount(); }
    bool IsChecked(std::int32_t k) const;
    void SetChecked(std::int32_t k, bool checked);

    // New copies of the item's code and ancestry section for the requested
    // outputs (null when there is none or a copy fails), loading them from
    // the file on first use. Counts a use. ErrBadIndex for a bad index.
    KR::ErrorCode GetCode(std::int32_t k, char*** code, char*** ancestry);
    // Replaces the item's code and section by copies of those given (null:
    // none) and counts one use. 0.
    KR::ErrorCode SetCode(std::int32_t k, char** code, char** ancestry);
    // Appends an item with a copy of the code and section, tells the
    // observers and returns the item's index.
    std::int32_t Add(const KR::UnID& id, const IO::Location& location, std::int16_t scriptType, char** code,
                     char** ancestry, const LibrarySet& sender);
    // Clears item `k` in place (no code, no section, not checked; keys and
    // index stay) and tells the observers. ErrBadIndex for a bad index.
    KR::ErrorCode Remove(std::int32_t k, const LibrarySet& sender);
    // Deletes every item and tells the observers. 0.
    KR::ErrorCode ClearAll(const LibrarySet& sender);

private:
    struct IdKey {
        KR::UnID id;
        std::int16_t scriptType;
        friend bool operator==(const IdKey& a, const IdKey& b) noexcept
        {
            return a.scriptType == b.scriptType && a.id == b.id;
        }
    };
    struct LocationKey {
        IO::Location location;
        std::int16_t scriptType;
        friend bool operator==(const LocationKey& a, const LocationKey& b) noexcept
        {
            return a.scriptType == b.scriptType && a.location == b.location;
        }
    };
    struct KeyHash {
        std::size_t operator()(const IdKey& key) const noexcept;
        std::size_t operator()(const LocationKey& key) const noexcept;
    };

    bool Load();
    // Purges when due and replaces the container file by a new one written
    // from the items; closes the old file. True when the new file is in
    // place; otherwise the old file is deleted.
    bool WriteFile();
    // Deletes the items that the purge drops, if a purge is due.
    void PurgeIfDue(std::int32_t now);
    bool WriteTo(IO::File& out, std::int32_t now);
    // Reads `size` bytes at `offset` of the old file into a new handle; null
    // when there is no file or the read fails.
    char** LoadFromFile(std::uint32_t offset, std::uint32_t size);
    // Copies the bytes `size` at `offset` of the old file to `out` through
    // `buffer`; the number of bytes copied (0 when the read fails).
    std::uint32_t CopyFromFile(std::uint32_t offset, std::uint32_t size, IO::File& out, std::vector<char>* buffer,
                               bool* writeFailed);
    void IndexItem(std::int32_t k);
    void ClearItems() noexcept;
    template <typename Call>
    void Tell(Call call, const KR::UnID& id, std::int16_t scriptType, const LibrarySet& sender);

    KR::VAArray<PscBinCodeItem> items_{AllocationStep};
    std::int32_t timestamp_ = 0;
    IO::Folder folder_;
    std::unique_ptr<IO::File> file_;
    char fileName_[256] = {};
    std::int64_t fileSize_ = 0;
    // First item of each key; Find answers from these instead of a walk.
    std::unordered_map<IdKey, std::int32_t, KeyHash> byId_;
    std::unordered_map<LocationKey, std::int32_t, KeyHash> byLocation_;
};

// One container per cache folder for the whole process. The registry is made
// when it is first used and destroyed, with every container it holds, when
// the module is unloaded.
class PscBinCodesContainerRegistry {
public:
    // The container of `cacheFolder`, made and kept when there is none yet.
    // Null when it cannot be made (the failure is printed on KR::dbChannel).
    static PscBinCodesContainer* Obtain(const IO::Location& cacheFolder) noexcept;
    // The container of `cacheFolder`, or null; makes nothing.
    static PscBinCodesContainer* Find(const IO::Location& cacheFolder) noexcept;
    static std::size_t GetCount() noexcept;
    // Destroys the container of `cacheFolder` now (it writes its file and
    // its observers forget it), as unloading the module does. For tests and
    // tools; false when there was none.
    static bool Destroy(const IO::Location& cacheFolder) noexcept;
};

}  // namespace LM
