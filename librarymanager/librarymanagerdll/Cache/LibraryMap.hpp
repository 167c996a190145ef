// The map of a library tree: the names, kinds and modification times of all
// files and folders below a folder, with per-node synchronisation marks.
//
// Cache synchronisation compares three maps of one library: the library
// folder now, its cache copy now, and the cache copy as it was after the last
// synchronisation, which is kept in a map file inside the LAN cache
// (docs/formats/library-map.md). Internal to the module.
//
// Nodes are numbered from 1; node 1 is the root folder, with the empty name.
// All nodes live in one array and all names in one pool of zero-terminated
// strings, so building the map of a large library makes no allocation per
// entry. A new node becomes the first child of its parent: children appear
// in the reverse order of their addition.
#pragma once

#include "IO/Folder.hpp"
#include "IO/RawTreeWalk.hpp"
#include "IO/TreeEnumerator.hpp"
#include "KR/Channel.hpp"

#include <cstdint>
#include <vector>

namespace LM {

// Results of the map's walk and of reading a map file, beside the errors of
// the input/output library that are passed on.
inline constexpr KR::ErrorCode ErrIncompleteWalk = KR::MakeErrorCode(0x835E0061u);  // a folder below the root could not be read, or was too deep
inline constexpr KR::ErrorCode ErrMapIncomplete = KR::MakeErrorCode(0x835E0062u);   // the map file's writing never finished
inline constexpr KR::ErrorCode ErrMapOtherLibrary = KR::MakeErrorCode(0x835E0063u); // the map file belongs to another cache copy
inline constexpr KR::ErrorCode ErrMapTooDeep = KR::MakeErrorCode(0x835E0064u);      // a node deeper than a location may be

// Synchronisation marks of a node (MapNode::state).
namespace MapState {
inline constexpr std::int32_t Upload = 0x01;              // the cache entry is to be uploaded
inline constexpr std::int32_t Download = 0x02;            // the library entry is to be downloaded
inline constexpr std::int32_t DeletedFromLibrary = 0x04;  // in the cache at the last synchronisation, gone from the library
inline constexpr std::int32_t Conflict = 0x10;            // with DeletedFromLibrary, or both copies changed
inline constexpr std::int32_t Replace = 0x20;             // the destination exists and is replaced
}  // namespace MapState

struct MapNode {
    std::int32_t next = 0;        // next node with the same parent; 0: none
    std::int32_t firstChild = 0;  // 0: none
    std::int32_t parent = 0;      // 0 for the root
    std::int32_t name = 0;        // offset of the name in the name pool
    bool folder = false;
    std::int32_t modificationTime = 0;  // foundation time; 0 when unknown, and for folders
    std::int32_t state = 0;             // MapState bits
};

class LibraryMap : public IO::TreeEnumerator {
public:
    static constexpr std::int32_t RootNode = 1;
    static constexpr std::int32_t PoolStep = 10000;  // the name pool starts at and grows by this many bytes
    // Most names a node location may have below the root. The walk enters
    // at most IO::TreeEnumerator::MaxDepth folders, so every walked node is
    // well within it; deeper nodes can only come from paths added one by one.
    static constexpr std::int32_t MaxLocationDepth = 1024;
    // A map file whose pool capacity exceeds the pool used by more than this
    // is refused as damaged: the pool never has more than one growth step
    // free, and the capacity is allocated before the pool is read.
    static constexpr std::int32_t MaxPoolSlack = 1 << 20;

    // A map of the tree below `folder`; empty (root only) until Build, a
    // read or additions.
    explicit LibraryMap(const IO::Folder& folder);
    ~LibraryMap() override;

    // Back to the root alone: no files, the pool holding only the empty
    // name, the root the current node.
    void Reset();

    // Walks the folder given at construction and adds every file and folder
    // below it under the current node (the root after a reset). 0 when the
    // whole tree was read; the error of reading the root folder; or
    // ErrIncompleteWalk when a folder below could not be read or lies deeper
    // than a walk enters: the map then misses entries that exist, and must
    // not be taken for the tree's content.
    KR::ErrorCode Build();

    // ----- Building -----
    // Appends a node as the first child of `parent` and returns its number.
    // A name that does not fit into the pool leaves the node with the empty
    // name. Raises KR::IllegalArgumentException for a parent that is no node.
    std::int32_t AddNode(std::int32_t parent, const char* name, bool folder);
    // For a library that is one file: adds the file at `location` under the
    // current node (or finds the node of its name there), sets its
    // modification time (0 when it cannot be read) and counts it. Returns
    // the node, or 0 when there is no file at `location`.
    std::int32_t AddSingleFile(const IO::Location& location);
    // From the current node, finds or adds a node for each name of `path`
    // in turn (folders for all but the last name, which is a folder when
    // `lastIsFolder`) and returns the last; 0 for an empty path.
    std::int32_t FindOrAddPath(const IO::RelativeLocation& path, bool lastIsFolder);

    // ----- Queries -----
    // The node named `name` (name comparison, option 1) among `start` and its
    // following siblings, then, from its parent's first child on, among the
    // siblings before `start`; 0 when there is none or `start` is 0. Long
    // families are indexed, so a search costs about the same whatever the
    // family's size.
    std::int32_t FindChild(std::int32_t start, const char* name) const;
    // Files below `node`: a node without children counts 1 when it is a
    // file and 0 when it is a folder; otherwise the sum over its children.
    std::int32_t CountFiles(std::int32_t node) const;
    // `root` joined with the names of the node's ancestors below the root
    // node and with its own name. ErrIllegalArgument for a number that is
    // no node, ErrMapTooDeep beyond MaxLocationDepth names, IO::ErrBadName
    // for a name that cannot stand in a location; `*location` is then empty.
    KR::ErrorCode GetNodeLocation(std::int32_t node, const IO::Location& root, IO::Location* location) const;
    // The first child of the root; 0 for an empty map.
    std::int32_t GetFirstEntry() const noexcept { return nodes_[RootNode].firstChild; }
    // The node's name; empty for a number that is no node.
    IO::Name GetNodeName(std::int32_t node) const;
    const char* GetNameText(std::int32_t node) const;

    // Raises KR::IllegalArgumentException for a number that is no node.
    const MapNode& GetNode(std::int32_t node) const;
    void SetState(std::int32_t node, std::int32_t state);
    void SetModificationTime(std::int32_t node, std::int32_t time);

    bool IsNode(std::int32_t node) const noexcept { return node >= 1 && node < static_cast<std::int32_t>(nodes_.size()); }
    std::int32_t GetNodeCount() const noexcept { return static_cast<std::int32_t>(nodes_.size()) - 1; }
    std::int32_t GetFileCount() const noexcept { return fileCount_; }
    std::int32_t GetCurrentNode() const noexcept { return currentNode_; }
    std::int32_t GetPoolUsed() const noexcept { return poolUsed_; }
    std::int32_t GetPoolCapacity() const noexcept { return poolCapacity_; }

    // ----- The map file -----
    // Where the map of the cache copy at `cacheCopy` is kept: `cacheRoot`,
    // `mapName`, the copy's last name and `mapName` again. Creates the two
    // folders when they are missing; their error otherwise.
    static KR::ErrorCode GetMapFileLocation(const IO::Name& mapName, const IO::Location& cacheRoot,
                                            const IO::Location& cacheCopy, IO::Location* file);
    // Writes the map as the map file of `cacheCopy`. The file is replaced
    // whole: a failure or a crash at any moment leaves the old map file
    // complete (or none), never a part of the new one.
    KR::ErrorCode WriteMapFile(const IO::Name& mapName, const IO::Location& cacheRoot,
                               const IO::Location& cacheCopy) const;
    // Replaces the map by the one in the map file of `cacheCopy`. When there
    // is no map file, or it is incomplete, belongs to another cache copy or
    // is damaged, the map is left reset (root only) and the reason returned.
    KR::ErrorCode ReadMapFile(const IO::Name& mapName, const IO::Location& cacheRoot,
                              const IO::Location& cacheCopy);

    // The map file's content on a channel, for the map of `libraryName`.
    KR::ErrorCode Write(KR::OChannel& channel, const IO::Name& libraryName) const;
    // Reads what Write puts. `size` is the number of bytes the channel
    // holds; counts that those bytes cannot back are refused before
    // anything is allocated. Every link, name offset and count is checked
    // before the map takes it: a damaged map gives KR::ErrBadFormat (or the
    // channel's error) and leaves the map reset.
    KR::ErrorCode Read(KR::IChannel& channel, const IO::Name& libraryName, std::uint64_t size);

protected:
    // Whether the walk takes the entry `name` (`length` bytes) of the folder
    // of the current node into the map; the default takes every entry.
    virtual bool KeepEntry(const char* name, std::size_t length, bool isFolder);

    bool EntryFound(const IO::Name& name, bool isFolder) override;
    bool FileFound(const IO::Name& name) override;
    bool FolderFound(const IO::Name& name) override;
    void FolderEntered(const IO::Name& name, IO::Folder& folder) override;
    void FolderExited(const IO::Name& name, IO::Folder& folder) override;

private:
    class RawWalk;
    void AddWalkedFile(const char* name, std::size_t length, std::int32_t time);
    void EnterWalkedFolder(const char* name, std::size_t length);
    void ExitWalkedFolder();
    bool CheckWalkDepth();
    std::int32_t AddNode(std::int32_t parent, const char* name, std::size_t length, bool folder);
    std::int32_t StoreName(const char* name, std::size_t length);
    const char* NameAt(std::int32_t node) const noexcept { return pool_.data() + nodes_[node].name; }
    KR::ErrorCode ReadContent(KR::IChannel& channel, const IO::Name& libraryName, std::uint64_t size);
    static KR::ErrorCode ReadNodes(KR::IChannel& channel, std::vector<MapNode>& nodes);
    void ClearIndex() const;
    void IndexFamily(std::int32_t parent) const;
    void IndexNode(std::int32_t node) const;
    std::int32_t FindIndexHead(std::int32_t parent, std::uint64_t key) const noexcept;
    std::int32_t& IndexHead(std::int32_t parent, std::uint64_t key) const;

    std::int32_t fileCount_ = 0;
    std::int32_t currentNode_ = RootNode;
    std::vector<MapNode> nodes_;  // nodes_[0] is unused, so that node n is nodes_[n]
    std::vector<char> pool_;      // its size is the pool capacity
    std::int32_t poolUsed_ = 1;
    std::int32_t poolCapacity_ = 0;

    // The walk's depth below the root, and whether it passed over a folder.
    std::uint32_t walkDepth_ = 0;
    bool walkTooDeep_ = false;

    // Index of long families for FindChild: per node the number of
    // children, which family table indexes its children (0: none, k: the
    // k-th), its position in its family's chain and the next node of its
    // family with the same name key (in chain order). A family table is
    // open addressing from a name key to the first node with that key;
    // its 8-byte slots keep it small enough to stay in the processor's
    // cache for families of tens of thousands of files.
    struct IndexSlot {
        std::uint32_t key = 0;
        std::int32_t head = 0;  // 0: empty slot
    };
    struct FamilyTable {
        std::vector<IndexSlot> slots;
        std::size_t used = 0;
    };
    mutable std::vector<std::int32_t> childCount_;
    mutable std::vector<std::int32_t> familyTable_;
    mutable std::vector<std::int32_t> chainPosition_;
    mutable std::vector<std::int32_t> sameKeyNext_;
    mutable std::vector<FamilyTable> families_;
    mutable std::vector<std::int32_t> scratch_;
};

}  // namespace LM
