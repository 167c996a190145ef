// Helpers of the type hierarchy tests: a library set whose records are
// placeholders made valid (no part files needed) and a hierarchy that
// records the parameter updates Build asks for.
#pragma once

#include "../PartTable/PartTableTestSupport.hpp"

#include "AncestryHierarchy.hpp"
#include "TestIds.hpp"

#include <string>
#include <tuple>
#include <vector>

namespace HierarchyTest {

using PartTableTest::MakeUnID;

// (part, parent, merge mode) of one parameter update.
using Update = std::tuple<std::int32_t, std::int32_t, bool>;

class RecordingHierarchy : public LM::AncestryHierarchy {
public:
    using AncestryHierarchy::AncestryHierarchy;
    using AncestryHierarchy::GetRootNodeId;
    using AncestryHierarchy::PushChildNodeIds;
    std::vector<Update> updates;

protected:
    KR::ErrorCode UpdatePartParameters(std::int32_t part, std::int32_t parent, bool mergeMode) override
    {
        updates.emplace_back(part, parent, mergeMode);
        return 0;
    }
};

// Records are appended with Part(); paths go into Tree(), the set's own
// hierarchy unless a test builds on its own RecordingHierarchy.
class HierarchyFixture : public PartTableTest::LibrarySetFixture {
protected:
    LM::AncestryHierarchy& SetTree() { return *LM::LibrarySetInternals::GetTypeHierarchy(*set_); }

    // A valid (unless told otherwise) library part record named `name` with
    // own UnID `own` and the path ancestors..., own in `tree`.
    std::int32_t Part(LM::AncestryHierarchy& tree, const char* name, const KR::UnID& own,
                      const std::vector<KR::UnID>& ancestors, bool valid = true)
    {
        const std::int32_t i = Table().AppendPlaceholder(name, own, 0, types.part, 0);
        set_->SetSymbolValid(i, valid);
        const std::uint32_t id =
            tree.AddPath(ancestors.data(), static_cast<std::uint32_t>(ancestors.size()), own);
        LM::LibrarySetInternals::SetSymbolAncestryId(*set_, i, id);
        return i;
    }

    // A record without a path.
    std::int32_t Pathless(const char* name, const KR::UnID& own)
    {
        const std::int32_t i = Table().AppendPlaceholder(name, own, 0, types.part, 0);
        set_->SetSymbolValid(i, true);
        return i;
    }

    std::uint32_t PathOf(std::int32_t i) { return LM::LibrarySetInternals::GetSymbolAncestryId(*set_, i); }

    std::vector<KR::UnID> Path(const LM::AncestryHierarchy& tree, std::int32_t i)
    {
        const std::uint32_t id = PathOf(i);
        std::vector<KR::UnID> path(tree.GetPathLength(id));
        tree.GetPath(id, path.data());
        return path;
    }

    void Done() { Table().SortIndexes(); }
};

}  // namespace HierarchyTest
