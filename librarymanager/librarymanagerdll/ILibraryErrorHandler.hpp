// The application's handler of the conditions the library set reports, and
// the duplicate reports it receives.
#pragma once

#include "IO/Location.hpp"
#include "KR/GUID.hpp"
#include "LMExport.hpp"

namespace LM {

// Library parts (or files) that share a document name. The locations are
// held in the report when there are at most three, in a separately allocated
// array otherwise. A report lives only for the duration of the call that
// receives it; a handler copies what it needs.
struct LM_API DuplicateNameReport {
    static constexpr std::uint32_t InlineCount = 3;

    char name[32] = {};
    std::uint32_t count = 0;
    IO::Location inlineLocations[InlineCount];
    // count entries (allocated with new[]) when count > 3, else null; the
    // report's destructor frees them.
    IO::Location* locations = nullptr;

    DuplicateNameReport() = default;
    DuplicateNameReport(const DuplicateNameReport&) = delete;
    DuplicateNameReport& operator=(const DuplicateNameReport&) = delete;
    ~DuplicateNameReport();

    // Location k (0 .. count - 1), wherever it is kept.
    const IO::Location& GetLocation(std::uint32_t k) const;
};

// Library parts that share one UnID, grouped by document name.
struct LM_API DuplicateUnIDReport {
    KR::UnID unID{};
    char name[32] = {};
    std::uint32_t count = 0;
    IO::Location inlineLocations[DuplicateNameReport::InlineCount];
    IO::Location* locations = nullptr;

    DuplicateUnIDReport() = default;
    DuplicateUnIDReport(const DuplicateUnIDReport&) = delete;
    DuplicateUnIDReport& operator=(const DuplicateUnIDReport&) = delete;
    ~DuplicateUnIDReport();

    const IO::Location& GetLocation(std::uint32_t k) const;
};

// Implemented by the application. Virtual operations in this order.
class LM_API ILibraryErrorHandler {
public:
    virtual ~ILibraryErrorHandler();

    // The duplicate check after an enumeration starts.
    virtual void DuplicateCheckStarted() = 0;
    // Files that are not library parts share a document name and a type.
    virtual void DuplicateFilesFound(const DuplicateNameReport* report) = 0;
    // Library parts share a UnID.
    virtual void DuplicateUnIDFound(const DuplicateUnIDReport* report) = 0;
    // Library parts share a document name but not a UnID.
    virtual void DuplicateNameFound(const DuplicateNameReport* report) = 0;
    // For the application's own use: it may route its own reports about a
    // location through the same handler. The module calls it only when cache
    // synchronisation skips a library because the library or cache folder
    // at `location` could not be read completely (`code` tells why).
    virtual void ApplicationReport(KR::ErrorCode code, const IO::Location& location) = 0;
    // Cache synchronisation: the cache and the library are the same folder.
    virtual void CacheEqualsLibrary(const IO::Location& cache, const IO::Location& library) = 0;
    // Cache synchronisation: the cache and the library folders are nested.
    virtual void CacheNestedWithLibrary(const IO::Location& cache, const IO::Location& library) = 0;
    virtual void DownloadFailed(const IO::Location& library, const IO::Location& cache) = 0;
    virtual void UploadFailed(const IO::Location& library, const IO::Location& cache) = 0;
    // An entry of the cache was deleted from the library: 1 uploads it again,
    // 2 deletes it from the cache, anything else leaves it.
    virtual std::int32_t AskDeletedFromLibrary(const IO::Location& library, const IO::Location& cache) = 0;
    // A file changed in both library and cache: 1 uploads it, anything else
    // skips it.
    virtual std::int32_t AskChangedInBoth(const IO::Location& library, const IO::Location& cache) = 0;
    // A file name of 32 characters or more: 1 means the part is not stored.
    virtual std::int32_t AskNameTooLong(const IO::Name& name) = 0;
};

}  // namespace LM
