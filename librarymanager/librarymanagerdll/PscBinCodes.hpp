// Observers of the shared container of compiled script codes.
#pragma once

#include "KR/Events.hpp"
#include "KR/GUID.hpp"
#include "LMExport.hpp"

namespace LM {

class LibrarySet;

// The compiled code operations of a set that works without a script code
// container (the container of its cache folder could not be made).
inline constexpr KR::ErrorCode ErrNoCodeContainer = KR::MakeErrorCode(0x835E0010u);

// What changed in the container: the part and the script type concerned
// (NULLUnID and 0 when all codes were cleared).
class LM_API PscBinCodesContainerEvent : public KR::Event {
public:
    PscBinCodesContainerEvent(KR::EventSource* source, const KR::UnID& partId, std::int16_t scriptType) noexcept
        : KR::Event(source), partId_(partId), scriptType_(scriptType)
    {
    }
    const KR::UnID& GetPartId() const noexcept { return partId_; }
    std::int16_t GetScriptType() const noexcept { return scriptType_; }

private:
    KR::UnID partId_;
    std::int16_t scriptType_;
};

// Virtual operations in this order: destructor, SourceDestroyed (inherited),
// BinCodeAdded, BinCodeRemoved, BinCodesCleared. `sender` is the set that
// caused the change. The defaults do nothing.
class LM_API PscBinCodesContainerObserver : public KR::EventObserver {
public:
    ~PscBinCodesContainerObserver() override;

protected:
    friend class PscBinCodesContainer;
    virtual void BinCodeAdded(const LibrarySet& sender, const PscBinCodesContainerEvent& event);
    virtual void BinCodeRemoved(const LibrarySet& sender, const PscBinCodesContainerEvent& event);
    virtual void BinCodesCleared(const LibrarySet& sender, const PscBinCodesContainerEvent& event);
};

}  // namespace LM
