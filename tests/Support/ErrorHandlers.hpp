// An error handler of the library set that ignores every report; tests and
// benchmarks derive from it to watch only the reports they care about.
#pragma once

#include "ILibraryErrorHandler.hpp"

namespace TestSupport {

class NullErrorHandler : public LM::ILibraryErrorHandler {
public:
    void DuplicateCheckStarted() override {}
    void DuplicateFilesFound(const LM::DuplicateNameReport*) override {}
    void DuplicateUnIDFound(const LM::DuplicateUnIDReport*) override {}
    void DuplicateNameFound(const LM::DuplicateNameReport*) override {}
    void ApplicationReport(KR::ErrorCode, const IO::Location&) override {}
    void CacheEqualsLibrary(const IO::Location&, const IO::Location&) override {}
    void CacheNestedWithLibrary(const IO::Location&, const IO::Location&) override {}
    void DownloadFailed(const IO::Location&, const IO::Location&) override {}
    void UploadFailed(const IO::Location&, const IO::Location&) override {}
    std::int32_t AskDeletedFromLibrary(const IO::Location&, const IO::Location&) override { return 0; }
    std::int32_t AskChangedInBoth(const IO::Location&, const IO::Location&) override { return 0; }
    std::int32_t AskNameTooLong(const IO::Name&) override { return 0; }
};

}  // namespace TestSupport
