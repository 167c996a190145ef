// The observer of a library set.
#include "LibrarySetObserver.hpp"

namespace LM {

LibrarySetObserver::LibrarySetObserver(const LibrarySetObserver&) : KR::EventObserver() {}

LibrarySetObserver& LibrarySetObserver::operator=(const LibrarySetObserver&)
{
    return *this;
}

LibrarySetObserver::~LibrarySetObserver() = default;

void LibrarySetObserver::SomethingHappened() {}

}  // namespace LM
