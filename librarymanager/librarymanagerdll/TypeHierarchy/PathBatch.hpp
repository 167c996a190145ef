// The paths of library parts stored while a set is enumerated, collected in
// a few flat arrays and added to the type hierarchy in one pass at the end of
// the walk (Paths::AddPaths). The ids are those that adding each path when
// its part was stored would give, without the tree's search per part.
#pragma once

#include "AncestryHierarchy.hpp"
#include "KR/GUID.hpp"

#include <cstdint>
#include <new>
#include <vector>

namespace LM {

class PathBatch {
public:
    // Queues the path of record `record`: its ancestors, then its own UnID.
    // False, with nothing queued, when there is no memory for it: the record
    // then holds no path, as when the tree cannot grow.
    bool Add(std::int32_t record, const KR::UnID* ancestors, std::uint32_t n, const KR::UnID& own) noexcept
    {
        const std::size_t size = nodes_.size();
        try {
            if (n > 0 && ancestors != nullptr)
                nodes_.insert(nodes_.end(), ancestors, ancestors + n);
            nodes_.push_back(own);
            ranges_.push_back({static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(nodes_.size() - size)});
            try {
                records_.push_back(record);
            } catch (...) {
                ranges_.pop_back();
                throw;
            }
        } catch (const std::bad_alloc&) {
            nodes_.resize(size);
            return false;
        }
        return true;
    }

    // Adds the queued paths to `tree` in the order they came and calls
    // assign(record, pathId) for each; the batch is empty afterwards.
    template <typename Assign>
    void Flush(AncestryHierarchy& tree, Assign assign)
    {
        std::vector<std::uint32_t> ids(ranges_.size(), 0);
        tree.AddPaths(nodes_.data(), ranges_.data(), ranges_.size(), ids.data());
        for (std::size_t k = 0; k < ids.size(); ++k)
            assign(records_[k], ids[k]);
        *this = PathBatch();
    }

private:
    std::vector<KR::UnID> nodes_;
    std::vector<AncestryHierarchy::PathRange> ranges_;
    std::vector<std::int32_t> records_;
};

}  // namespace LM
