// Reporting of the exceptions that the guard of the public operations
// catches.
#include "Guard.hpp"

namespace LM::GuardPrivate {

namespace {

// Printing itself may fail (a channel that throws, memory that runs out
// while the line is built); the caller still gets its error code.
void PrintQuietly(const KR::KRException& exception) noexcept
{
    try {
        exception.Print(KR::dbChannel);
    } catch (...) {
    }
}

KR::ErrorCode ReportInternal(const char* message) noexcept
{
    try {
        PrintQuietly(KR::KRException(KR::ErrInternal, message != nullptr ? message : "", "LibrarySet"));
    } catch (...) {
    }
    return KR::ErrInternal;
}

}  // namespace

KR::ErrorCode Report(const KR::KRException& exception) noexcept
{
    PrintQuietly(exception);
    return exception.GetID();
}

KR::ErrorCode ReportBadAlloc() noexcept
{
    try {
        PrintQuietly(KR::OutOfMemoryException(KR::ErrMemFull, "LibrarySet"));
    } catch (...) {
    }
    return KR::ErrMemFull;
}

KR::ErrorCode ReportStd(const std::exception& exception) noexcept
{
    return ReportInternal(exception.what());
}

KR::ErrorCode ReportUnknown() noexcept
{
    return ReportInternal("Unknown exception.");
}

}  // namespace LM::GuardPrivate
