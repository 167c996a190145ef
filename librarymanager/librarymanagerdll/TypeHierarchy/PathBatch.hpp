// The paths of library parts stored while a set is enumerated, collected in
// a few flat arrays and added to the type hierarchy in one pass at the end of
// the walk (Paths::AddPaths). The ids are those that adding each path when
// its part was stored would give, without the tree's search per part.
#pragma once

#include "AncestryHierarchy.hpp"
#include "KR/GUID.hpp"
#include "KR/ProbingTable.hpp"

#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <string_view>
#include <vector>

namespace LM {

class PathBatch {
public:
    // Queues the path of record `record`: its ancestors, then its own UnID.
    // Ancestor lists are kept once each: parts of one type share theirs.
    // False, with nothing queued, for ancestors missing (n > 0 without an
    // array: AddPath stores nothing then either) and when there is no memory
    // for it: the record then holds no path, as when the tree cannot grow.
    bool Add(std::int32_t record, const KR::UnID* ancestors, std::uint32_t n, const KR::UnID& own) noexcept
    {
        if (n > 0 && ancestors == nullptr)
            return false;
        try {
            ends_.push_back({ListOf(ancestors, n), own});
            try {
                records_.push_back(record);
            } catch (...) {
                ends_.pop_back();
                throw;
            }
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    // Adds the queued paths to `tree` in the order they came and calls
    // assign(record, pathId) for each; the batch is empty afterwards.
    template <typename Assign>
    void Flush(AncestryHierarchy& tree, Assign assign)
    {
        std::vector<std::uint32_t> ids(ends_.size(), 0);
        tree.AddPaths(nodes_.data(), lists_.data(), lists_.size(), ends_.data(), ends_.size(), ids.data());
        for (std::size_t k = 0; k < ids.size(); ++k)
            assign(records_[k], ids[k]);
        *this = PathBatch();
    }

private:
    using Range = AncestryHierarchy::PathRange;

    // The index of the list equal in bytes to ancestors[0, n), added when
    // new. (Lists that differ only in bytes the comparison ignores are kept
    // apart; the tree still merges their nodes.)
    std::uint32_t ListOf(const KR::UnID* ancestors, std::uint32_t n)
    {
        const std::size_t bytes = std::size_t{n} * sizeof(KR::UnID);
        const std::size_t hash =
            std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(ancestors), bytes));
        auto isList = [&](const Slot& slot) {
            const Range& r = lists_[slot.list - 1];
            return slot.hash == hash && r.count == n &&
                   (n == 0 || std::memcmp(nodes_.data() + r.first, ancestors, bytes) == 0);
        };
        if (const std::size_t k = table_.Find(hash, isList); k != Table::None)
            return table_.At(k).list - 1;
        // A new list: every array has room before anything is recorded, so a
        // failed allocation leaves the batch as it was.
        const auto first = static_cast<std::uint32_t>(nodes_.size());
        lists_.reserve(lists_.size() + 1);
        nodes_.insert(nodes_.end(), ancestors, ancestors + n);
        std::size_t k = 0;
        try {
            k = table_.FindOrClaim(hash, isList).first;
        } catch (...) {
            nodes_.resize(first);
            throw;
        }
        const auto list = static_cast<std::uint32_t>(lists_.size());
        lists_.push_back({first, n});
        table_.At(k) = Slot{hash, list + 1};
        return list;
    }

    struct Slot {
        std::size_t hash = 0;
        std::uint32_t list = 0;  // list + 1, 0 for a free slot
    };
    struct SlotTraits {
        static bool IsFree(const Slot& slot) noexcept { return slot.list == 0; }
        static std::size_t Hash(const Slot& slot) noexcept { return slot.hash; }
        static constexpr std::size_t InitialSize = 64;
        static constexpr std::size_t MaxLoadPercent = 50;
    };
    using Table = KR::ProbingTable<Slot, SlotTraits>;

    std::vector<KR::UnID> nodes_;      // the distinct ancestor lists, one after another
    std::vector<Range> lists_;         // each list's place in nodes_
    Table table_;                      // the lists by their bytes
    std::vector<AncestryHierarchy::PathEnd> ends_;
    std::vector<std::int32_t> records_;
};

}  // namespace LM
