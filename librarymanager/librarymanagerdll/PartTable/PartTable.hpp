// The part table of a library set: one record per enumerated or stored file,
// with the two sorted indexes. Internal.
//
// (The records, their initialisation from files, the indexes, the searches
// and the duplicate check are declared here as they are built.)
#pragma once

#include "ILibraryErrorHandler.hpp"

namespace LM {

class PartTable {
public:
    explicit PartTable(ILibraryErrorHandler& errorHandler);
    PartTable(const PartTable&) = delete;
    PartTable& operator=(const PartTable&) = delete;
    ~PartTable();

    // Number of records.
    std::int32_t GetCount() const noexcept;

private:
    ILibraryErrorHandler& errorHandler_;
};

}  // namespace LM
