// The guard of the library set's public operations, written once.
//
// Every public operation runs its body through Guard (operations that return
// a value) or GuardError (operations that return an error code):
//   - a foundation exception is printed on KR::dbChannel with its Print and
//     the fallback (Guard) or the exception's id (GuardError) is returned;
//   - an allocation failure of the standard library is treated as the
//     foundation's out-of-memory exception, any other standard exception as an
//     internal error; both are printed the same way;
//   - a set that could not be constructed runs no body at all: Guard gives
//     the fallback and GuardError gives ErrSetUnusable.
// Internal: include only from the module's own .cpp files.
#pragma once

#include "KR/DebugChannel.hpp"
#include "KR/Exceptions.hpp"
#include "LibrarySet.hpp"

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

// Runs `body`; on an exception reports it and returns false with `*error`
// set to its code.
template <typename Body>
bool Run(Body&& body, KR::ErrorCode* error) noexcept
{
    try {
        std::forward<Body>(body)();
        return true;
    } catch (const KR::KRException& e) {
        *error = Report(e);
    } catch (const std::bad_alloc&) {
        *error = ReportBadAlloc();
    } catch (const std::exception& e) {
        *error = ReportStd(e);
    } catch (...) {
        *error = ReportUnknown();
    }
    return false;
}

}  // namespace LM::GuardPrivate

namespace LM {

template <typename R, typename Body>
R LibrarySet::Guard(R fallback, Body&& body) const noexcept
{
    if (!IsUsable())
        return fallback;
    R result = fallback;
    KR::ErrorCode error = 0;
    if (GuardPrivate::Run([&] { result = std::forward<Body>(body)(); }, &error))
        return result;
    return fallback;
}

template <typename Body>
KR::ErrorCode LibrarySet::GuardError(Body&& body) const noexcept
{
    if (!IsUsable())
        return ErrSetUnusable;
    KR::ErrorCode result = 0;
    KR::ErrorCode error = 0;
    if (GuardPrivate::Run([&] { result = std::forward<Body>(body)(); }, &error))
        return result;
    return error;
}

// The result of a getter that copies one field of an item looked up by
// index: ErrBadIndex when there is no item, ErrParameter when there is no
// place for the value, else the field is copied and NoError returned.
template <typename Item, typename Field>
KR::ErrorCode CopyField(const Item* item, Field Item::*field, Field* out)
{
    if (item == nullptr)
        return ErrBadIndex;
    if (out == nullptr)
        return ErrParameter;
    *out = item->*field;
    return KR::NoError;
}

}  // namespace LM
