// Construction and destruction of the library set, its flags and its
// observers.
#include "LibrarySet.hpp"

#include "AncestryHierarchy.hpp"
#include "LibrarySet/ActiveLibraryList.hpp"
#include "LibrarySet/Guard.hpp"
#include "LibrarySet/ModuleState.hpp"
#include "LibrarySet/OtherObjectList.hpp"
#include "PartTable/PartTable.hpp"
#include "PartTable/PscBinCodesContainer.hpp"

#include <utility>

namespace LM {

namespace {

template <typename T>
void DeleteAndClear(T*& part)
{
    delete std::exchange(part, nullptr);
}

}  // namespace

LibrarySet::LibrarySet(ILibraryErrorHandler& errorHandler, KR::ConstForwardIterator<FTM::GeneralID> storableFileTypes)
    : errorHandler_(errorHandler)
{
    const bool made = RunGuarded([&] {
        scriptCodeContainer_ = PscBinCodesContainerRegistry::Obtain(GetModuleState().scriptCodeCacheFolder);
        partTable_ = new PartTable(errorHandler_);
        folderSet_ = new FolderSet(GetModuleString(ModuleString::FolderSetRoot));
        activeLibraries_ = new ActiveLibraryList;
        otherObjects_ = new OtherObjectList;
        typeHierarchy_ = new AncestryHierarchy(this);
        for (auto type = storableFileTypes; !type.IsEnd(); ++type)
            storableFileTypes_.push_back(*type);
    }) == KR::NoError;
    if (!made) {
        // The set stays, unusable: IsUsable() is false and the guard of every
        // operation refuses to run.
        DeleteAndClear(partTable_);
        DeleteAndClear(folderSet_);
        DeleteAndClear(activeLibraries_);
        DeleteAndClear(otherObjects_);
        DeleteAndClear(typeHierarchy_);
        storableFileTypes_.clear();
        return;
    }
    if (scriptCodeContainer_ != nullptr) {
        // Without the attachment the set could not learn of the container's
        // end, so it goes without the container instead.
        if (RunGuarded([&] { scriptCodeContainer_->Attach(*this); }) != KR::NoError)
            scriptCodeContainer_ = nullptr;
    }
}

LibrarySet::~LibrarySet()
{
    if (scriptCodeContainer_ != nullptr)
        scriptCodeContainer_->Detach(*this);
    // The parts go in this order; after a failure the rest is not attempted.
    // (The file count record exists only while Enumerate runs, which deletes
    // it itself.)
    (void)RunGuarded([&] {
        DeleteAndClear(typeHierarchy_);
        DeleteAndClear(partTable_);
        DeleteAndClear(folderSet_);
        DeleteAndClear(activeLibraries_);
        DeleteAndClear(otherObjects_);
    });
}

bool LibrarySet::IsUsable() const noexcept
{
    return partTable_ != nullptr && folderSet_ != nullptr && activeLibraries_ != nullptr &&
           otherObjects_ != nullptr && typeHierarchy_ != nullptr;
}

void LibrarySet::SourceDestroyed(KR::EventSource* source)
{
    if (source != nullptr && source == scriptCodeContainer_)
        scriptCodeContainer_ = nullptr;
}

bool LibrarySet::IsEnumerated() const noexcept
{
    return enumerated_;
}

void LibrarySet::SetEnumerated(bool enumerated) noexcept
{
    enumerated_ = enumerated;
}

void LibrarySet::Attach(LibrarySetObserver& observer)
{
    Guard(false, [&] {
        KR::EventSource::Attach(observer);
        return true;
    });
}

void LibrarySet::Detach(LibrarySetObserver& observer)
{
    // Also for an unusable set: detaching can only make things safer.
    KR::EventSource::Detach(observer);
}

void LibrarySet::NotifyObservers()
{
    // The enumerator stays valid while observers detach themselves or each
    // other during the calls, and ends when the set itself is destroyed by
    // one of them; the set is not touched after the last call.
    for (auto observers = EnumerateObservers(); !observers.IsEnd(); observers.Next()) {
        if (auto* observer = dynamic_cast<LibrarySetObserver*>(observers.GetCurrent()))
            observer->SomethingHappened();
    }
}

}  // namespace LM
