// An open-addressed hash table in one array: linear probing, deletion by
// shifting back. A table of many keys costs one block to grow and to free,
// never a node per key, and a search touches neighbouring slots only.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace KR {

// `Slot` holds a key and its value; `Traits` describes it:
//   static bool IsFree(const Slot&) noexcept;        a default-made Slot is free
//   static std::size_t Hash(const Slot&) noexcept;   the hash of the slot's key
//   static constexpr std::size_t InitialSize;        a power of two
//   static constexpr std::size_t MaxLoadPercent;     below 100
// Searches take the key's hash and a predicate that accepts the slot holding
// the key. Slot indices stay valid until the next claim or erase.
template <class Slot, class Traits>
class ProbingTable {
public:
    static constexpr std::size_t None = std::size_t(-1);

    // The index of the slot that `isKey` accepts, or None.
    template <class IsKey>
    std::size_t Find(std::size_t hash, IsKey&& isKey) const noexcept
    {
        if (used_ == 0)
            return None;
        for (std::size_t k = hash & Mask();; k = (k + 1) & Mask()) {
            if (Traits::IsFree(slots_[k]))
                return None;
            if (isKey(slots_[k]))
                return k;
        }
    }

    // The index of the slot that `isKey` accepts, or of a free slot claimed
    // for the key (second: true), which the caller fills at once so that it
    // is no longer free. std::bad_alloc when the array cannot grow (the
    // table is unchanged then).
    template <class IsKey>
    std::pair<std::size_t, bool> FindOrClaim(std::size_t hash, IsKey&& isKey)
    {
        if ((used_ + 1) * 100 > slots_.size() * Traits::MaxLoadPercent)
            Grow();
        std::size_t k = hash & Mask();
        for (; !Traits::IsFree(slots_[k]); k = (k + 1) & Mask())
            if (isKey(slots_[k]))
                return {k, false};
        ++used_;
        return {k, true};
    }

    Slot& At(std::size_t k) noexcept { return slots_[k]; }
    const Slot& At(std::size_t k) const noexcept { return slots_[k]; }

    // Frees slot `k`. A slot after the hole moves into it unless its home
    // lies after the hole (up to the slot), where a search still finds it.
    void EraseAt(std::size_t k) noexcept
    {
        std::size_t hole = k;
        for (std::size_t next = (hole + 1) & Mask(); !Traits::IsFree(slots_[next]); next = (next + 1) & Mask()) {
            const std::size_t home = Traits::Hash(slots_[next]) & Mask();
            const bool reachable = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
            if (reachable)
                continue;
            slots_[hole] = slots_[next];
            hole = next;
        }
        slots_[hole] = Slot{};
        --used_;
    }

    std::size_t Count() const noexcept { return used_; }

private:
    std::size_t Mask() const noexcept { return slots_.size() - 1; }

    void Grow()
    {
        std::vector<Slot> old(slots_.empty() ? Traits::InitialSize : slots_.size() * 2);
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (Traits::IsFree(slot))
                continue;
            std::size_t k = Traits::Hash(slot) & Mask();
            while (!Traits::IsFree(slots_[k]))
                k = (k + 1) & Mask();
            slots_[k] = slot;
        }
    }

    std::vector<Slot> slots_;  // a power of two in size, or empty
    std::size_t used_ = 0;
};

}  // namespace KR
