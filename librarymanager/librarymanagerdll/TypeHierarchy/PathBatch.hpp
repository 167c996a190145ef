// The paths of library parts stored while a set is enumerated, collected in
// a few flat arrays and added to the type hierarchy in one pass at the end of
// the walk (Paths::AddPaths). The ids are those that adding each path when
// its part was stored would give, without the tree's search per part.
#pragma once

#include "AncestryHierarchy.hpp"
#include "KR/GUID.hpp"

#include <algorithm>
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
        if (2 * (lists_.size() + 1) > slots_.size()) {
            std::vector<std::uint32_t> bigger(std::max<std::size_t>(64, 2 * slots_.size()), 0);
            for (std::uint32_t list = 0; list < lists_.size(); ++list) {
                std::size_t h = hashes_[list] & (bigger.size() - 1);
                while (bigger[h] != 0)
                    h = (h + 1) & (bigger.size() - 1);
                bigger[h] = list + 1;
            }
            slots_.swap(bigger);
        }
        const std::size_t mask = slots_.size() - 1;
        std::size_t h = hash & mask;
        for (; slots_[h] != 0; h = (h + 1) & mask) {
            const std::uint32_t list = slots_[h] - 1;
            const Range& r = lists_[list];
            if (hashes_[list] == hash && r.count == n &&
                (n == 0 || std::memcmp(nodes_.data() + r.first, ancestors, bytes) == 0))
                return list;
        }
        const auto first = static_cast<std::uint32_t>(nodes_.size());
        hashes_.reserve(hashes_.size() + 1);
        lists_.reserve(lists_.size() + 1);
        if (n > 0)
            nodes_.insert(nodes_.end(), ancestors, ancestors + n);
        const auto list = static_cast<std::uint32_t>(lists_.size());
        lists_.push_back({first, n});
        hashes_.push_back(hash);
        slots_[h] = list + 1;
        return list;
    }

    std::vector<KR::UnID> nodes_;      // the distinct ancestor lists, one after another
    std::vector<Range> lists_;         // each list's place in nodes_
    std::vector<std::size_t> hashes_;  // each list's hash
    std::vector<std::uint32_t> slots_; // open-addressed: list + 1, 0 for empty
    std::vector<AncestryHierarchy::PathEnd> ends_;
    std::vector<std::int32_t> records_;
};

}  // namespace LM
