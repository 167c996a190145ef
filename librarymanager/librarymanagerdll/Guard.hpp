// The one exception guard of the module, written once.
//
// The module throws foundation exceptions inside and catches them where an
// operation hands its result to a caller:
//   - a foundation exception is printed on KR::dbChannel with its Print and
//     its id stands for the failure;
//   - an allocation failure of the standard library is treated as the
//     foundation's out-of-memory exception, any other standard exception as
//     an internal error; both are printed the same way.
// The library set's public operations use it through LibrarySet::Guard and
// LibrarySet::GuardError (LibrarySet/Guard.hpp).
// Internal: include only from the module's own .cpp files.
#pragma once

#include "KR/DebugChannel.hpp"
#include "KR/Exceptions.hpp"

#include <exception>
#include <new>
#include <utility>

namespace LM::GuardPrivate {

// Prints a caught exception on dbChannel and returns the error code that
// stands for it.
KR::ErrorCode Report(const KR::KRException& exception) noexcept;
KR::ErrorCode ReportBadAlloc() noexcept;
KR::ErrorCode ReportStd(const std::exception& exception) noexcept;
KR::ErrorCode ReportUnknown() noexcept;

}  // namespace LM::GuardPrivate

namespace LM {

// Runs `body`: KR::NoError when it returns, else the code of the exception
// it raised, reported as above.
template <typename Body>
KR::ErrorCode RunGuarded(Body&& body) noexcept
{
    try {
        std::forward<Body>(body)();
        return KR::NoError;
    } catch (const KR::KRException& e) {
        return GuardPrivate::Report(e);
    } catch (const std::bad_alloc&) {
        return GuardPrivate::ReportBadAlloc();
    } catch (const std::exception& e) {
        return GuardPrivate::ReportStd(e);
    } catch (...) {
        return GuardPrivate::ReportUnknown();
    }
}

// What `body` returns, or `fallback` when it raised an exception.
template <typename R, typename Body>
R Guarded(R fallback, Body&& body) noexcept
{
    R result = fallback;
    if (RunGuarded([&] { result = std::forward<Body>(body)(); }) != KR::NoError)
        return fallback;
    return result;
}

// What `body` returns (an error code), or the code of the exception it
// raised.
template <typename Body>
KR::ErrorCode GuardedError(Body&& body) noexcept
{
    KR::ErrorCode result = KR::NoError;
    const KR::ErrorCode error = RunGuarded([&] { result = std::forward<Body>(body)(); });
    return error != KR::NoError ? error : result;
}

}  // namespace LM
