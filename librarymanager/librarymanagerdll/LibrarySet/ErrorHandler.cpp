// The error handler's base and the duplicate reports it receives.
#include "ILibraryErrorHandler.hpp"

#include "KR/Exceptions.hpp"

namespace LM {

namespace {

const IO::Location& LocationAt(std::uint32_t k, std::uint32_t count, const IO::Location* inlineLocations,
                               const IO::Location* locations)
{
    if (k >= count)
        throw KR::IllegalArgumentException("Location index out of range.", "DuplicateReport::GetLocation");
    if (count > DuplicateNameReport::InlineCount) {
        if (locations == nullptr)
            throw KR::IllegalStateException("The report has no location array.", "DuplicateReport::GetLocation");
        return locations[k];
    }
    return inlineLocations[k];
}

}  // namespace

DuplicateNameReport::~DuplicateNameReport()
{
    delete[] locations;
}

const IO::Location& DuplicateNameReport::GetLocation(std::uint32_t k) const
{
    return LocationAt(k, count, inlineLocations, locations);
}

DuplicateUnIDReport::~DuplicateUnIDReport()
{
    delete[] locations;
}

const IO::Location& DuplicateUnIDReport::GetLocation(std::uint32_t k) const
{
    return LocationAt(k, count, inlineLocations, locations);
}

ILibraryErrorHandler::~ILibraryErrorHandler() = default;

}  // namespace LM
