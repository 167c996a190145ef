// The type hierarchy of all library parts of a library set: a path tree in
// which every library part with an ancestry holds one path, its ancestors
// from the root-most one down followed by its own UnID. The part record
// keeps the id of that path as its ancestry id.
//
// Build reconciles the tree with the part table as it is: a declared
// ancestor present only in another revision is replaced, with everything
// below it, by the path of the revision that is present; parts get their
// parameters from their nearest present ancestor; and parts without an
// identifier of their own (old parts, held below a null UnID node) are
// updated from, or moved below, their nearest present ancestor.
#pragma once

#include "AncestryInfo.hpp"
#include "KR/Containers.hpp"
#include "KR/GUID.hpp"
#include "KR/Object.hpp"
#include "LMExport.hpp"
#include "Paths.hpp"
#include "TypeHierarchyExporter.hpp"

#include <cstdint>
#include <vector>

namespace LM {

class LibrarySet;

class LM_API AncestryHierarchy : public KR::Paths<KR::UnID, Cmp_UnIDs> {
public:
    using IndexList = KR::VAArray<std::int32_t>;

    // The sort record of one exported level.
    struct NodeRecord {
        TypeHierarchyExporter::Node node;
        std::uint32_t nodeId = 0;
        TypeHierarchyExporter::ICompare* compare = nullptr;
    };

    // "LM::AncestryHierarchy", class version 1.0.
    static const KR::ClassInfo classInfo;

    // An empty tree (root only) for `librarySet`, which it does not own. A
    // tree without a set (null) can be filled, read, written, walked and
    // exported as plain UnIDs (every node with library part index -1, no
    // old parts); Build does nothing on it.
    explicit AncestryHierarchy(LibrarySet* librarySet);
    // Copies the tree and the set pointer.
    AncestryHierarchy(const AncestryHierarchy& other);
    AncestryHierarchy& operator=(const AncestryHierarchy& other);
    ~AncestryHierarchy() override;

    const KR::ClassInfo* Get_ClassInfo() const override;
    static const KR::ClassInfo* Get_ClassInfoStatic() noexcept;

    // The set whose part table the hierarchy describes.
    LibrarySet* GetLibrarySet() const noexcept { return librarySet; }

    // ----- Building -------------------------------------------------------
    // Reconciles the tree with the part table. With `conformAll` every part
    // met in the tree has its parameters updated from its nearest present
    // ancestor; without it only the parts whose path was moved in this run.
    // Runs as progress phase 118. A foundation exception ends the walk (it is
    // printed on dbChannel) and the old parts are then left as they are.
    void Build(bool conformAll);

    // ----- Queries --------------------------------------------------------
    // Clears `info` and fills it with every node of the path but the last
    // one. 0, or the error code of a foundation exception (printed).
    KR::ErrorCode GetAncestryInfo(std::uint32_t pathId, AncestryInfo* info) const;
    // Appends the library part index of every path end in pre-order (-1 for
    // a UnID no valid record carries), then the indices of the old parts.
    // Returns the list's count afterwards.
    std::int32_t GetPreorderAncestryTreeWalk(IndexList* list) const;
    // Exports the whole hierarchy or a sub-hierarchy node by node. 0,
    // ErrExportStopped when the exporter asked to stop, KR::ErrParam without
    // an exporter, or the error code of a foundation exception (printed).
    KR::ErrorCode ExportTypeHierarchy(TypeHierarchyExporter* exporter) const;
    // The tree as text, nodes labelled by SubstOwnUnIdToName.
    void PrintTypeHierarchy(KR::OChannel& channel) const;
    // The label of one node in the print; `librarySet` may be null.
    static void SubstOwnUnIdToName(void* librarySet, KR::OChannel& channel, const KR::UnID& id);
    // The order of two NodeRecords by their comparison object.
    static int CmpFunct(const void* a, const void* b);

    // ----- Channel format -------------------------------------------------
    // The tree's data in a frame of this class; the set pointer is not stored.
    KR::ErrorCode Read(KR::IChannel& channel) override;
    KR::ErrorCode Write(KR::OChannel& channel) const override;

protected:
    // Updates a part's parameters from its parent part; Build's only way of
    // changing part data other than ancestry ids.
    virtual KR::ErrorCode UpdatePartParameters(std::int32_t part, std::int32_t parent, bool mergeMode);

private:
    class RecordIndex;

    void BuildOldLibParts(std::int32_t progressCount);
    std::uint32_t ReplaceAncestryPath(AncestryInfo ancestry, std::uint32_t position, std::uint32_t pathId);
    void MoveSubtree(std::uint32_t nodeId, std::int32_t similarPart, char* moved);
    void ConformSymbolToNewHierarchyPosition(std::uint32_t pathId, std::int32_t part);
    std::int32_t GetSimilarUnIDIdxs(const KR::UnID& id, IndexList* list);
    static void PushDifference(IdQueue* before, IdQueue* after, IdQueue* target);
    void SetAncestryId(std::int32_t part, std::uint32_t pathId);
    // The library part SearchSymbolByUnID finds for `id` (nameless search).
    std::int32_t FindPart(const KR::UnID& id) const;

    KR::ErrorCode ExportTypeSubHierarchy(std::uint32_t nodeId, long parentItem, bool recursive,
                                         TypeHierarchyExporter* exporter,
                                         TypeHierarchyExporter::ICompare* compare) const;
    KR::ErrorCode MakeExporterNode(const KR::UnID& id, std::int32_t libIndex, TypeHierarchyExporter::Node* node) const;
    void CollectLevel(std::uint32_t nodeId, TypeHierarchyExporter::ICompare* compare,
                      std::vector<NodeRecord>* level) const;

    LibrarySet* librarySet;
    // What Build reads of the part table's records (which records hold
    // which path, the UnID search); exists only while Build runs.
    RecordIndex* recordIndex_ = nullptr;
};

}  // namespace LM
