// The shared container of compiled script codes of one cache folder, and the
// process-wide registry that keeps one container per folder. Internal.
#pragma once

#include "IO/Folder.hpp"
#include "IO/Location.hpp"
#include "KR/Events.hpp"

#include <cstddef>

namespace LM {

// The library sets that use the container are its observers.
class PscBinCodesContainer : public KR::EventSource {
public:
    explicit PscBinCodesContainer(const IO::Location& cacheFolder);
    PscBinCodesContainer(const PscBinCodesContainer&) = delete;
    PscBinCodesContainer& operator=(const PscBinCodesContainer&) = delete;
    ~PscBinCodesContainer() override;

    const IO::Folder& GetFolder() const noexcept { return folder_; }

private:
    IO::Folder folder_;
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
};

}  // namespace LM
