// The module's entry: the callback and text tables and the functions that
// hand them over.
#pragma once

#include "FTM/FileTypes.hpp"
#include "IO/FixedVFS.hpp"
#include "IO/Location.hpp"
#include "LMExport.hpp"

#include <cstddef>

namespace LM {

// Error codes of the module itself. Codes of the imported libraries are
// passed on unchanged; among them KR::ErrParam (-50) for a missing output
// argument or parameter and KR::ErrMemFull (-108) for memory that cannot be
// allocated, which the module returns as well.
inline constexpr KR::ErrorCode ErrEmptyArgument = -1;  // an empty location or string where one is required
inline constexpr KR::ErrorCode ErrBadIndex = -7003;    // an index out of range or an invalid location argument
// Data that cannot be read as what it claims to be (a damaged block or
// stream). The same value as ErrBadIndex: callers that compare against the
// value see no difference.
inline constexpr KR::ErrorCode ErrDamagedData = -7003;
// The former name of KR::ErrParam, kept while callers move to that name.
inline constexpr KR::ErrorCode ErrParameter = KR::ErrParam;
inline constexpr KR::ErrorCode ErrExportStopped = KR::MakeErrorCode(0x835E0001u);  // the application stopped an export
inline constexpr KR::ErrorCode ErrSetUnusable = KR::MakeErrorCode(0x835E0002u);    // the set's construction failed

// The application's callbacks.
struct LM_API LibraryManagerCallBacks {
    // Makes a read-only file system that presents the content of the file at
    // the location as a folder tree, or returns null when the file is no such
    // container. The module owns what it returns and deletes it when it
    // unmounts it or when mounting fails. Null: no library can be a file.
    IO::FixedVFS* (*createFixedVFS)(const IO::Location& location) = nullptr;
};

// Eleven fixed texts, each zero-terminated in a field of 256 bytes, copied as
// one block. The module reads entries 3 (name of the library map file),
// 4 (name of the file count file), 5 (name of the folder set's root item),
// 6 (base name of the compiled script code cache file), 7 (name of the folder
// of parts outside every library) and 8 (name of the folder of placeholder
// parts); the others are carried unread.
struct LM_API LibraryManagerStrings {
    static constexpr std::size_t EntryCount = 11;
    static constexpr std::size_t EntrySize = 256;
    char entries[EntryCount][EntrySize] = {};

    // Sets entry `index` (cut to 255 bytes); does nothing for a bad index.
    void Set(std::size_t index, const char* text) noexcept;
    // Entry `index`, or "" for a bad index.
    const char* Get(std::size_t index) const noexcept;
};
static_assert(sizeof(LibraryManagerStrings) == 2816);

// Copies the five values into the module state. May be called again; sets
// that exist already keep the script code container they obtained.
LM_API void InitLibraryManager(const LibraryManagerCallBacks& callBacks, const LibraryManagerStrings& strings,
                               const FTM::GeneralID& firstPartFileType, const FTM::GeneralID& secondPartFileType,
                               const IO::Location& scriptCodeCacheFolder);
// Does nothing.
LM_API void FreeLibraryManager();

LM_API void GetLibraryManagerCallBacks(LibraryManagerCallBacks* callBacks);
LM_API void SetLibraryManagerCallBacks(const LibraryManagerCallBacks& callBacks);
LM_API void GetLibraryManagerStrings(LibraryManagerStrings* strings);
LM_API void SetLibraryManagerStrings(const LibraryManagerStrings& strings);

}  // namespace LM
