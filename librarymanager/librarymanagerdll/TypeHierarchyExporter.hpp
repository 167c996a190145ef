// The interface through which the application receives the type hierarchy,
// node by node. The application implements it; the module only calls it
// (AncestryHierarchy::ExportTypeHierarchy, LibrarySet::ExportTypeHierarchy).
#pragma once

#include "KR/GUID.hpp"
#include "LMExport.hpp"

#include <cstdint>

namespace LM {

class LM_API TypeHierarchyExporter {
public:
    // One exported node.
    struct Node {
        // Library part index of the part, -1 when no record carries `unID`.
        std::int32_t libIndex = -1;
        // True also when libIndex is -1.
        bool isTemplate = true;
        // False when libIndex is -1.
        bool isPlaceable = false;
        KR::UnID unID{};
        // The part's document name, zero-terminated; empty when libIndex is -1.
        char name[32] = {};
    };

    // The order of siblings chosen by the application.
    class LM_API ICompare {
    public:
        // Negative when `a` comes first, 0 when equal, positive otherwise.
        virtual int Compare(const Node& a, Node b) = 0;
        virtual ~ICompare();
    };

    // Results of ExportNode.
    static constexpr long Continue = 0;     // go on, descending into the node when recursive
    static constexpr long SkipChildren = 1; // go on, but not into this node
    static constexpr long Stop = 2;         // stop the whole export

    // Receives `node` under the application's item `parentItem`; may set
    // `*item` (preset to 0) to the application's item for it. Any result
    // other than SkipChildren and Stop counts as Continue.
    virtual long ExportNode(long parentItem, const Node* node, long* item) = 0;
    // The application's item under which the first level is exported.
    virtual long GetRootItem() = 0;
    // The UnID of the part whose sub-hierarchy is exported; the null UnID
    // asks for the whole hierarchy.
    virtual void GetRootUnID(KR::UnID* id) = 0;
    // All levels (true) or only the first level below the start (false).
    virtual bool IsRecursive() = 0;
    // The order of siblings, or null to keep the tree order.
    virtual ICompare* GetCompare() = 0;

    virtual ~TypeHierarchyExporter();
};

}  // namespace LM
