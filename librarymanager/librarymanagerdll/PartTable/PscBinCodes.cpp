// Default operations of the observers of the compiled script code container.
#include "PscBinCodes.hpp"

namespace LM {

PscBinCodesContainerObserver::~PscBinCodesContainerObserver() = default;

void PscBinCodesContainerObserver::BinCodeAdded(const LibrarySet&, const PscBinCodesContainerEvent&) {}

void PscBinCodesContainerObserver::BinCodeRemoved(const LibrarySet&, const PscBinCodesContainerEvent&) {}

void PscBinCodesContainerObserver::BinCodesCleared(const LibrarySet&, const PscBinCodesContainerEvent&) {}

}  // namespace LM
