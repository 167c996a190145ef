// Library part files.
//
// The binary format is documented in docs/formats/part-file.md: a header
// (magic, byte order, format version, kind, flags, own UnID, document name),
// a directory of sections, then the section data.
//
// Opening a part file reads only its header and section directory (with the
// data of small sections that come with that first read); the data of other
// sections are read when they are first asked for. The file is not kept
// open between calls, so any number of part files can be open at once.
// A file that cannot be read, is not a part file, or is damaged (a header,
// directory or section that runs past the end of the file, counts out of
// range) makes the constructor throw a PartFileException with the error code.
#pragma once

#include "IO/Location.hpp"
#include "KR/Exceptions.hpp"
#include "KR/GUID.hpp"
#include "LPF/Sections.hpp"

#include <memory>
#include <string>
#include <vector>

namespace LPF {

inline constexpr KR::ErrorCode ErrNotPartFile = KR::MakeErrorCode(0x81050001u);      // no part file magic
inline constexpr KR::ErrorCode ErrUnsupportedVersion = KR::MakeErrorCode(0x81050002u);
inline constexpr KR::ErrorCode ErrDamaged = KR::MakeErrorCode(0x81050003u);          // truncated or inconsistent
inline constexpr KR::ErrorCode ErrSectionNotFound = KR::MakeErrorCode(0x81050004u);
inline constexpr KR::ErrorCode ErrNoHandler = KR::MakeErrorCode(0x81050005u);        // other byte order, no handler to convert
inline constexpr KR::ErrorCode ErrWrongKind = KR::MakeErrorCode(0x81050006u);        // a script file opened as a symbol file or back
inline constexpr KR::ErrorCode ErrChanged = KR::MakeErrorCode(0x81050007u);          // the file changed since it was opened
inline constexpr KR::ErrorCode ErrNoName = KR::MakeErrorCode(0x81050008u);           // the part file gives no document name
inline constexpr KR::ErrorCode ErrNameTooLong = KR::MakeErrorCode(0x81050009u);

// Longest document name a part file stores.
inline constexpr std::size_t MaxDocumentNameLength = 255;

// Format version that PartFileWriter writes (major 1, minor 0). Files of
// another major version are refused with ErrUnsupportedVersion.
inline constexpr std::uint16_t CurrentFormatVersion = 0x0100;

enum class PartKind : std::uint16_t { Symbol = 1, Script = 2 };

// When a part file reads its modification time. A reader that will ask for
// it (a library enumeration does, for every file) reads it at open, with one
// call on the open file; a reader that may not ask saves that call.
enum class ModificationTime : std::uint8_t { ReadAtOpen, ReadWhenAsked };

class PartFileException : public KR::KRException {
public:
    PartFileException(KR::ErrorCode id, std::string message, std::string sourceName = "LPF::PartFile");
    const char* GetClassName() const noexcept override;
};

struct SectionInfo {
    std::uint32_t type = 0;
    std::uint8_t subIdent = 0;
    SectionDescriptor descriptor;
    std::uint32_t size = 0;
};

class PartFile {
public:
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    virtual ~PartFile();

    const IO::Location& GetLocation() const noexcept;
    PartKind GetKind() const noexcept;
    // Platform code of the byte order of the file's header.
    std::uint32_t GetHeaderPlatform() const noexcept;
    // Format version of the file: major version in the high byte, minor in
    // the low byte.
    std::uint16_t GetFormatVersion() const noexcept;

    // Copies at most 31 characters of the document name and a terminator
    // into `name` (32 bytes); ErrNoName (with `name` empty) when the part file
    // gives no name.
    KR::ErrorCode GetDocumentName(char* name) const;
    const std::string& GetFullDocumentName() const noexcept;
    // The file's modification time (foundation time), read once: at open, or
    // when first asked for (see ModificationTime).
    KR::ErrorCode GetModificationTime(std::int32_t* time) const;

    std::uint32_t GetSectionCount() const noexcept;
    // Section `index` (0-based) of the directory, as it is now.
    KR::ErrorCode GetSectionInfo(std::uint32_t index, SectionInfo* info) const;
    bool HasSection(std::uint32_t type, std::uint8_t subIdent) const noexcept;

    // Sets `*section` to the handle of the section's data, in this machine's
    // byte order, read (and converted) on first use. The handle stays the part
    // file's: do not free or keep it beyond the next SetSectionDataRef of the
    // section or the part file's life. ErrSectionNotFound (and null) when the
    // part file has no such section.
    KR::ErrorCode GetSectionDataRef(std::uint32_t type, std::uint8_t subIdent, char*** section);
    // Replaces the section's data in memory by `section`, whose ownership
    // passes to the part file (data in this machine's byte order); a section
    // that did not exist is added. A null handle releases the data held in
    // memory: a section stored in the file is read again on next use, one
    // that exists only in memory is removed.
    KR::ErrorCode SetSectionDataRef(std::uint32_t type, std::uint8_t subIdent, char** section);
    KR::ErrorCode GetSectionDescriptor(std::uint32_t type, std::uint8_t subIdent, SectionDescriptor* descriptor) const;

    // Writes the part file with its present sections (in this machine's byte
    // order) through a scratch file that then replaces the file.
    KR::ErrorCode Save();

    struct Impl;

protected:
    PartFile(const IO::Location& location, PartKind kind, ModificationTime when);
    std::unique_ptr<Impl> impl_;
};

// A library part file of the first kind.
class SymbolFile : public PartFile {
public:
    explicit SymbolFile(const IO::Location& location, ModificationTime when = ModificationTime::ReadAtOpen);

    KR::ErrorCode GetOwnUnID(KR::UnID* id) const;
    KR::ErrorCode IsPlaceable(bool* placeable) const;
    KR::ErrorCode IsArchivable(bool* archivable) const;
};

// A library part file of the second kind.
class ScriptFile : public PartFile {
public:
    explicit ScriptFile(const IO::Location& location, ModificationTime when = ModificationTime::ReadAtOpen);
};

// Opens a part file of either kind; null (with `*error` set) when it cannot.
std::unique_ptr<PartFile> OpenPartFile(const IO::Location& location, KR::ErrorCode* error = nullptr);

// What a part file object made from a file would tell of it, read with the
// same single read of its first bytes but without building the object (no
// directory or section kept): for a walk that only needs these values from
// each of many files, and makes the object later for the few it uses.
struct PartFileSummary {
    KR::UnID ownUnID{};
    bool placeable = false;
    bool archivable = false;
    // As GetDocumentName gives it, with its error.
    char documentName[32] = {};
    KR::ErrorCode documentNameError = KR::NoError;
    // As GetModificationTime gives it, with its error (read at open).
    std::int32_t modificationTime = 0;
    KR::ErrorCode modificationTimeError = KR::NoError;

    // The one section asked for: whether the directory lists it, its
    // descriptor as stored, and its stored bytes when they all came with
    // the first read (null otherwise). The bytes are valid until the next
    // ReadPartFileSummary of the same thread.
    bool hasSection = false;
    SectionDescriptor sectionDescriptor;
    const char* sectionBytes = nullptr;
    std::uint32_t sectionSize = 0;
};

// The first bytes of a part file, read (by another thread) ahead of their
// use with IO::FileHead, with its values: what ReadPartFileSummary would read.
inline constexpr std::size_t PartFileHeadSize = 4096;
struct PartFileHead {
    KR::ErrorCode error = KR::NoError;  // of opening or reading the file
    const unsigned char* bytes = nullptr;  // `got` bytes of the file's start
    std::size_t got = 0;
    std::uint64_t fileSize = 0;
    bool timeKnown = false;
    std::int32_t time = 0;
    KR::ErrorCode timeError = KR::NoError;
};

// Fills `summary` from the file at `location` and returns 0 when a part file
// object of kind `expected` could be made from the file as it is now;
// otherwise the error code its constructor would throw, and `summary` may
// be partly filled. With `head`, the file's first bytes are those read ahead
// (the file is read again only when its directory runs past them). Throws
// nothing.
KR::ErrorCode ReadPartFileSummary(const IO::Location& location, PartKind expected, std::uint32_t sectionType,
                                  std::uint8_t subIdent, PartFileSummary* summary,
                                  const PartFileHead* head = nullptr) noexcept;

// Builds a part file.
class PartFileWriter {
public:
    explicit PartFileWriter(PartKind kind);

    void SetOwnUnID(const KR::UnID& id) noexcept { ownUnID_ = id; }
    void SetPlaceable(bool value) noexcept { placeable_ = value; }
    void SetArchivable(bool value) noexcept { archivable_ = value; }
    // ErrNameTooLong beyond MaxDocumentNameLength bytes.
    KR::ErrorCode SetDocumentName(std::string_view name);
    // Byte order of the header: NativePlatform or OtherPlatform.
    KR::ErrorCode SetHeaderPlatform(std::uint32_t platform);

    // Adds a section; `data` must be in the byte order that the descriptor's
    // platform code names. The data of a section added twice are replaced.
    KR::ErrorCode AddSection(std::uint32_t type, std::uint8_t subIdent, const SectionDescriptor& descriptor,
                             const void* data, std::size_t size);

    // The bytes of the part file.
    std::string ToBytes() const;
    // Writes the part file at `location` through a scratch file.
    KR::ErrorCode WriteTo(const IO::Location& location) const;

private:
    struct Section {
        SectionInfo info;
        std::string data;
    };
    PartKind kind_;
    KR::UnID ownUnID_{};
    bool placeable_ = false;
    bool archivable_ = false;
    std::string documentName_;
    std::uint32_t headerPlatform_ = NativePlatform;
    std::vector<Section> sections_;
};

}  // namespace LPF
