// Observers of a library set: told when its part table or its other objects
// have changed.
#pragma once

#include "KR/Events.hpp"
#include "LMExport.hpp"

namespace LM {

class LibrarySet;

class LM_API LibrarySetObserver : public KR::EventObserver {
public:
    LibrarySetObserver() = default;
    // The new observer is attached to nothing.
    LibrarySetObserver(const LibrarySetObserver& other);
    // Changes nothing: attachments are not copied.
    LibrarySetObserver& operator=(const LibrarySetObserver& other);
    ~LibrarySetObserver() override;

protected:
    friend class LibrarySet;
    // Called after the set changed; the observer queries the set to learn
    // what changed. The default does nothing.
    virtual void SomethingHappened();
};

}  // namespace LM
