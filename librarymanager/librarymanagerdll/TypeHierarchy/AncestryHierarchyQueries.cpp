// The views of the type hierarchy: the ancestry of one path, the pre-order
// walk, the export into the application's exporter and the text print.
#include "AncestryHierarchy.hpp"

#include "KR/Channel.hpp"
#include "KR/DebugChannel.hpp"
#include "KR/Exceptions.hpp"
#include "KRUtils/KRUtils.hpp"
#include "LibrarySet.hpp"
#include "LibrarySet/ModuleState.hpp"
#include "PartTable/PartTable.hpp"

#include <cstring>
#include <utility>
#include <vector>

namespace LM {

KR::ErrorCode AncestryHierarchy::GetAncestryInfo(std::uint32_t pathId, AncestryInfo* info) const
{
    try {
        info->Clear();
        const std::uint32_t length = GetPathLength(pathId);
        if (length < 2)
            return KR::NoError;
        std::vector<KR::UnID> path(length);
        GetPath(pathId, path.data());
        for (std::uint32_t k = 0; k + 1 < length; ++k)
            info->Append(path[k]);
    } catch (const KR::KRException& e) {
        e.Print(KR::dbChannel);
        return e.GetID();
    }
    return KR::NoError;
}

std::int32_t AncestryHierarchy::GetPreorderAncestryTreeWalk(IndexList* list) const
{
    IdQueue queue(1000);
    queue.Push(GetRootNodeId());
    PushSubPathIds(GetRootNodeId(), &queue);
    while (!queue.IsEmpty()) {
        KR::UnID id{};
        GetLastPathNode(queue.Pop(), &id);
        if (id != NULLUnID)
            list->Push(librarySet != nullptr ? librarySet->SearchSymbolByUnID(id, nullptr) : -1);
    }
    if (librarySet == nullptr)
        return static_cast<std::int32_t>(list->GetSize());
    const PartTable& table = *librarySet->partTable_;
    const std::int32_t n = table.GetCount();
    for (std::int32_t i = 0; i < n; ++i) {
        const SymbolData* data = table.Get(i)->GetSymbolData();
        if (data != nullptr && data->ancestryId != 0 && data->GetOwnUnID() == NULLUnID)
            list->Push(i);
    }
    return static_cast<std::int32_t>(list->GetSize());
}

// ---------------------------------------------------------------------------
// Export

KR::ErrorCode AncestryHierarchy::ExportTypeHierarchy(TypeHierarchyExporter* exporter) const
{
    if (exporter == nullptr)
        return KR::ErrParam;
    try {
        KR::UnID start{};
        exporter->GetRootUnID(&start);
        const std::uint32_t startNode = start == NULLUnID ? GetRootNodeId() : FindNodeId(start);
        const long parentItem = exporter->GetRootItem();
        const bool recursive = exporter->IsRecursive();
        TypeHierarchyExporter::ICompare* compare = exporter->GetCompare();
        return ExportTypeSubHierarchy(startNode, parentItem, recursive, exporter, compare);
    } catch (const KR::KRException& e) {
        e.Print(KR::dbChannel);
        return e.GetID();
    }
}

KR::ErrorCode AncestryHierarchy::MakeExporterNode(const KR::UnID& id, std::int32_t libIndex,
                                                  TypeHierarchyExporter::Node* node) const
{
    KR::ErrorCode err = KR::NoError;
    if (libIndex < 0) {
        node->name[0] = '\0';
        node->isTemplate = true;
        node->isPlaceable = false;
    } else {
        err = librarySet->GetSymbolDocumentName(libIndex, node->name);
        node->isTemplate = librarySet->IsSymbolTemplate(libIndex);
        node->isPlaceable = librarySet->IsSymbolPlaceable(libIndex);
    }
    node->unID = id;
    node->libIndex = libIndex;
    return err;
}

// The records of one level: the children of `nodeId` in sibling order, one
// record per node, except for the node of old parts, which gives one record
// for each old part that holds it.
void AncestryHierarchy::CollectLevel(std::uint32_t nodeId, TypeHierarchyExporter::ICompare* compare,
                                     std::vector<NodeRecord>* level) const
{
    IdQueue children(50);
    PushChildNodeIds(nodeId, &children);
    while (!children.IsEmpty()) {
        const std::uint32_t child = children.Pop();
        KR::UnID id{};
        GetLastPathNode(child, &id);
        NodeRecord record;
        record.nodeId = child;
        record.compare = compare;
        if (librarySet == nullptr) {
            // A tree without a set: no records, so no old parts either.
            if (id != NULLUnID) {
                (void)MakeExporterNode(id, -1, &record.node);
                level->push_back(record);
            }
            continue;
        }
        if (id != NULLUnID) {
            std::int32_t part = librarySet->SearchSymbolByUnID(id, nullptr);
            if (part == -1)
                part = librarySet->SearchDummySymbol(id, nullptr);
            (void)MakeExporterNode(id, part, &record.node);
            level->push_back(record);
            continue;
        }
        const PartTable& table = *librarySet->partTable_;
        const std::int32_t n = table.GetCount();
        for (std::int32_t i = 0; i < n; ++i) {
            const SymbolData* data = table.Get(i)->GetSymbolData();
            if (data == nullptr || data->ancestryId != child)
                continue;
            (void)MakeExporterNode(id, i, &record.node);
            level->push_back(record);
        }
    }
}

int AncestryHierarchy::CmpFunct(const void* a, const void* b)
{
    const auto* first = static_cast<const NodeRecord*>(a);
    const auto* second = static_cast<const NodeRecord*>(b);
    return first->compare->Compare(first->node, second->node);
}

namespace {

// A stable merge sort by CmpFunct. It touches only positions inside the
// array whatever the comparison answers, so a comparison that is not a
// strict order gives some order of the same records, never a fault.
void SortLevel(std::vector<AncestryHierarchy::NodeRecord>* level)
{
    const std::size_t n = level->size();
    std::vector<AncestryHierarchy::NodeRecord> scratch(n);
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t low = 0; low < n; low += 2 * width) {
            const std::size_t middle = std::min(low + width, n);
            const std::size_t high = std::min(low + 2 * width, n);
            std::size_t left = low;
            std::size_t right = middle;
            std::size_t out = low;
            while (left < middle && right < high) {
                if (AncestryHierarchy::CmpFunct(&(*level)[right], &(*level)[left]) < 0)
                    scratch[out++] = (*level)[right++];
                else
                    scratch[out++] = (*level)[left++];
            }
            while (left < middle)
                scratch[out++] = (*level)[left++];
            while (right < high)
                scratch[out++] = (*level)[right++];
        }
        level->swap(scratch);
    }
}

}  // namespace

// Depth first: a node, then its whole exported sub-tree, then its next
// sibling; each level is collected and sorted before its first node goes
// out. Kept on an explicit stack so that a deep tree cannot exhaust the
// call stack.
KR::ErrorCode AncestryHierarchy::ExportTypeSubHierarchy(std::uint32_t nodeId, long parentItem, bool recursive,
                                                        TypeHierarchyExporter* exporter,
                                                        TypeHierarchyExporter::ICompare* compare) const
{
    struct Level {
        std::vector<NodeRecord> records;
        std::size_t next = 0;
        long parentItem = 0;
    };
    std::vector<Level> stack;
    auto open = [&](std::uint32_t node, long item) {
        Level level;
        level.parentItem = item;
        CollectLevel(node, compare, &level.records);
        if (compare != nullptr)
            SortLevel(&level.records);
        stack.push_back(std::move(level));
    };
    open(nodeId, parentItem);
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next == level.records.size()) {
            stack.pop_back();
            continue;
        }
        const NodeRecord& record = level.records[level.next++];
        long item = 0;
        const long result = exporter->ExportNode(level.parentItem, &record.node, &item);
        if (result == TypeHierarchyExporter::Stop)
            return ErrExportStopped;
        if (recursive && result != TypeHierarchyExporter::SkipChildren)
            open(record.nodeId, item);  // `level` and `record` are not used after this
    }
    return KR::NoError;
}

// ---------------------------------------------------------------------------
// Print

void AncestryHierarchy::PrintTypeHierarchy(KR::OChannel& channel) const
{
    try {
        channel << "LibPart type hierarchy in the Library Manager:\n";
        Print(channel, SubstOwnUnIdToName, librarySet);
    } catch (const KR::KRException& e) {
        e.Print(KR::dbChannel);
    }
}

void AncestryHierarchy::SubstOwnUnIdToName(void* set, KR::OChannel& channel, const KR::UnID& id)
{
    if (id == NULLUnID) {
        channel << "<Old Libparts>: " << id.ToString();
        return;
    }
    if (set != nullptr) {
        const PartTable& table = *static_cast<LibrarySet*>(set)->partTable_;
        if (const LibElement* record = table.Get(table.FindFirstWithOwnUnID(id)); record != nullptr) {
            channel << static_cast<const char*>(record->documentName) << ":" << id.ToString();
            return;
        }
    }
    channel << "???: " << id.ToString();
}

}  // namespace LM
