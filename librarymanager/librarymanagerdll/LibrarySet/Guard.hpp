// The guard of the library set's public operations: the module's guard
// (../Guard.hpp) on a set that can be used.
//
// Every public operation runs its body through Guard (operations that return
// a value) or GuardError (operations that return an error code): a caught
// exception is printed and the fallback (Guard) or the exception's id
// (GuardError) is returned. A set that could not be constructed runs no body
// at all: Guard gives the fallback and GuardError gives ErrSetUnusable.
// Internal: include only from the module's own .cpp files.
#pragma once

#include "../Guard.hpp"
#include "LibrarySet.hpp"

#include <utility>

namespace LM {

template <typename R, typename Body>
R LibrarySet::Guard(R fallback, Body&& body) const noexcept
{
    if (!IsUsable())
        return fallback;
    return Guarded(fallback, std::forward<Body>(body));
}

template <typename Body>
KR::ErrorCode LibrarySet::GuardError(Body&& body) const noexcept
{
    if (!IsUsable())
        return ErrSetUnusable;
    return GuardedError(std::forward<Body>(body));
}

// The result of a getter that copies one field of an item looked up by
// index: ErrBadIndex when there is no item, KR::ErrParam when there is no
// place for the value, else the field is copied and NoError returned.
template <typename Item, typename Field>
KR::ErrorCode CopyField(const Item* item, Field Item::*field, Field* out)
{
    if (item == nullptr)
        return ErrBadIndex;
    if (out == nullptr)
        return KR::ErrParam;
    *out = item->*field;
    return KR::NoError;
}

}  // namespace LM
