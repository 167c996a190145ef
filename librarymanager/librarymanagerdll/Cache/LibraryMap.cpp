#include "Cache/LibraryMap.hpp"

#include "IO/File.hpp"
#include "KR/Exceptions.hpp"
#include "KR/Text.hpp"
#include "KRUtils/ScratchFile.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

namespace LM {

namespace {

// Families with more children than this get an index for FindChild; shorter
// ones are searched along their chain, which is as fast for so few.
constexpr std::int32_t IndexThreshold = 16;

// Bytes of one node in the map file: six 32-bit values and one byte.
constexpr std::uint64_t NodeFileSize = 6 * 4 + 1;

// A key of a name under the name comparison: names that compare equal with
// option 1 differ at most in the case of ASCII letters, so the key hashes
// the name with those letters folded (FNV-1a, 64 bits). Different names may
// share a key; FindChild compares the names themselves.
std::uint64_t NameKey(const char* name) noexcept
{
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
        const unsigned char c = (*p >= 'A' && *p <= 'Z') ? static_cast<unsigned char>(*p - 'A' + 'a') : *p;
        hash = (hash ^ c) * 0x100000001B3ull;
    }
    // Spread every bit over the low ones, which choose the slot.
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDull;
    hash ^= hash >> 33;
    return hash;
}

// What IO::Name::IsValid says of the zero-terminated `name`, without making
// a Name of it: not empty, not "." or "..", no '/'.
bool UsableName(const char* name) noexcept
{
    if (name[0] == '\0' || (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))))
        return false;
    return std::strchr(name, '/') == nullptr;
}

bool SameName(const char* a, const char* b) noexcept
{
    // The names of paired maps are mostly byte for byte the same: those need
    // no name comparison.
    return std::strcmp(a, b) == 0 || KR::ch04Manager.Compare(a, b, 1) == 0;
}

[[noreturn]] void ThrowNoNode(const char* operation)
{
    throw KR::IllegalArgumentException(std::string("Illegal node in LibraryMap::") + operation, "LibraryMap");
}

}  // namespace

LibraryMap::LibraryMap(const IO::Folder& folder) : IO::TreeEnumerator(folder)
{
    Reset();
}

LibraryMap::~LibraryMap() = default;

void LibraryMap::Reset()
{
    pool_.assign(PoolStep, '\0');
    poolUsed_ = 1;
    poolCapacity_ = PoolStep;
    nodes_.assign(1, MapNode{});
    fileCount_ = 0;
    childCount_.assign(1, 0);
    familyTable_.assign(1, 0);
    chainPosition_.assign(1, 0);
    sameKeyNext_.assign(1, 0);
    ClearIndex();
    MapNode root;
    root.folder = true;
    nodes_.push_back(root);
    childCount_.push_back(0);
    familyTable_.push_back(0);
    chainPosition_.push_back(0);
    sameKeyNext_.push_back(0);
    currentNode_ = RootNode;
}

// ----- Building -------------------------------------------------------------------

std::int32_t LibraryMap::StoreName(const char* name, std::size_t length)
{
    const std::int64_t needed = std::int64_t{poolUsed_} + static_cast<std::int64_t>(length);
    if (needed >= poolCapacity_ && std::int64_t{poolCapacity_} + PoolStep <= std::numeric_limits<std::int32_t>::max()) {
        pool_.resize(static_cast<std::size_t>(poolCapacity_) + PoolStep, '\0');
        poolCapacity_ = static_cast<std::int32_t>(pool_.size());
    }
    if (needed >= poolCapacity_)
        return 0;  // the node keeps the empty name
    const std::int32_t offset = poolUsed_;
    std::memcpy(pool_.data() + offset, name, length);
    pool_[static_cast<std::size_t>(offset) + length] = '\0';
    poolUsed_ = static_cast<std::int32_t>(needed + 1);
    return offset;
}

std::int32_t LibraryMap::AddNode(std::int32_t parent, const char* name, bool folder)
{
    if (name == nullptr)
        name = "";
    return AddNode(parent, name, std::strlen(name), folder);
}

std::int32_t LibraryMap::AddNode(std::int32_t parent, const char* name, std::size_t length, bool folder)
{
    if (!IsNode(parent))
        ThrowNoNode("AddNode");
    if (nodes_.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        KR::ThrowOutOfMemory("LibraryMap");
    const std::int32_t offset = StoreName(name, length);
    const std::int32_t node = static_cast<std::int32_t>(nodes_.size());
    MapNode added;
    added.folder = folder;
    added.name = offset;
    added.parent = parent;
    added.next = nodes_[parent].firstChild;
    nodes_.push_back(added);
    nodes_[parent].firstChild = node;
    childCount_.push_back(0);
    familyTable_.push_back(0);
    chainPosition_.push_back(0);
    sameKeyNext_.push_back(0);
    ++childCount_[parent];
    if (familyTable_[parent] != 0) {
        // The new first child comes before every position of its family.
        chainPosition_[node] = added.next != 0 ? chainPosition_[added.next] - 1 : 0;
        IndexNode(node);
    }
    return node;
}

std::int32_t LibraryMap::AddSingleFile(const IO::Location& location)
{
    IO::File file(location);
    if (file.GetStatus() != KR::NoError)
        return 0;
    IO::Name name;
    location.GetLastLocalName(&name);
    if (!IsNode(currentNode_))
        return 0;
    std::int32_t node = FindChild(nodes_[currentNode_].firstChild, name);
    if (node == 0)
        node = AddNode(currentNode_, name, false);
    std::int32_t time = 0;
    if (file.GetModificationTime(&time) != KR::NoError)
        time = 0;
    nodes_[node].modificationTime = time;
    ++fileCount_;
    return node;
}

std::int32_t LibraryMap::FindOrAddPath(const IO::RelativeLocation& path, bool lastIsFolder)
{
    const std::uint32_t length = path.GetLength();
    if (length == 0 || !IsNode(currentNode_))
        return 0;
    std::int32_t node = currentNode_;
    for (std::uint32_t i = 0; i < length; ++i) {
        IO::Name name;
        path.GetName(i, &name);
        std::int32_t child = FindChild(nodes_[node].firstChild, name);
        if (child == 0)
            child = AddNode(node, name, i + 1 < length || lastIsFolder);
        node = child;
    }
    return node;
}

// ----- The walk -------------------------------------------------------------------

// The walk of a tree on the disk: names straight from the folder listings
// into the map, in the order and with the results of the TreeEnumerator
// walk, which remains for trees that a mounted file system reaches.
class LibraryMap::RawWalk : public IO::RawTreeWalk {
public:
    explicit RawWalk(LibraryMap& map) : map_(map) {}

protected:
    bool EntryFound(const char* name, std::size_t length, bool isFolder) override
    {
        return map_.KeepEntry(name, length, isFolder);
    }
    void FileFound(const char* name, std::size_t length) override
    {
        std::int32_t time = 0;
        if (GetFileTime(name, &time) != KR::NoError)
            time = 0;
        map_.AddWalkedFile(name, length, time);
    }
    bool FolderFound(const char*, std::size_t) override { return map_.CheckWalkDepth(); }
    void FolderEntered(const char* name, std::size_t length) override { map_.EnterWalkedFolder(name, length); }
    void FolderExited() override { map_.ExitWalkedFolder(); }

private:
    LibraryMap& map_;
};

KR::ErrorCode LibraryMap::Build()
{
    walkDepth_ = 0;
    walkTooDeep_ = false;
    std::uint32_t skipped = 0;
    if (IO::RawTreeWalk::CanWalk(GetRoot().GetLocation())) {
        if (GetRoot().GetStatus() != KR::NoError)
            return GetRoot().GetStatus();
        RawWalk walk(*this);
        if (const KR::ErrorCode err = walk.Do(GetRoot().GetLocation()); err != KR::NoError)
            return err;
        skipped = walk.GetSkippedCount();
    } else {
        if (const KR::ErrorCode err = Do(); err != KR::NoError)
            return err;
        skipped = GetSkippedCount();
    }
    if (skipped != 0 || walkTooDeep_)
        return ErrIncompleteWalk;
    return KR::NoError;
}

bool LibraryMap::KeepEntry(const char*, std::size_t, bool)
{
    return true;
}

bool LibraryMap::EntryFound(const IO::Name& name, bool isFolder)
{
    return KeepEntry(name.ToCStr(), name.GetLength(), isFolder);
}

void LibraryMap::AddWalkedFile(const char* name, std::size_t length, std::int32_t time)
{
    const std::int32_t node = AddNode(currentNode_, name, length, false);
    nodes_[node].modificationTime = time;
    ++fileCount_;
}

bool LibraryMap::FileFound(const IO::Name& name)
{
    std::int32_t time = 0;
    if (GetFileTime(name, &time) != KR::NoError)
        time = 0;
    AddWalkedFile(name.ToCStr(), name.GetLength(), time);
    return false;
}

bool LibraryMap::CheckWalkDepth()
{
    // The walk does not enter folders deeper than its limit; what lies
    // there would be missing from the map without anyone knowing.
    if (walkDepth_ + 1 > IO::TreeEnumerator::MaxDepth)
        walkTooDeep_ = true;
    return true;
}

bool LibraryMap::FolderFound(const IO::Name&)
{
    return CheckWalkDepth();
}

void LibraryMap::EnterWalkedFolder(const char* name, std::size_t length)
{
    currentNode_ = AddNode(currentNode_, name, length, true);
    ++walkDepth_;
}

void LibraryMap::FolderEntered(const IO::Name& name, IO::Folder&)
{
    EnterWalkedFolder(name.ToCStr(), name.GetLength());
}

void LibraryMap::FolderExited(const IO::Name&, IO::Folder&)
{
    ExitWalkedFolder();
}

void LibraryMap::ExitWalkedFolder()
{
    currentNode_ = currentNode_ >= 1 ? nodes_[currentNode_].parent : 0;
    if (walkDepth_ > 0)
        --walkDepth_;
}

// ----- Queries --------------------------------------------------------------------

std::int32_t LibraryMap::FindChild(std::int32_t start, const char* name) const
{
    if (!IsNode(start))
        return 0;
    if (name == nullptr)
        name = "";
    const std::int32_t parent = nodes_[start].parent;
    if (parent != 0 && childCount_[parent] > IndexThreshold) {
        // Two chains that are paired walk in step, so the name is usually
        // at `start` or just after it: look there before the index, as the
        // chain walk would.
        std::int32_t n = start;
        for (int step = 0; step < 4 && n != 0; ++step, n = nodes_[n].next)
            if (SameName(NameAt(n), name))
                return n;
        if (familyTable_[parent] == 0)
            IndexFamily(parent);
        // The candidates of the key are in chain order: the first equal
        // name at or after `start` is the answer, else (wrapping around)
        // the first equal name of the family.
        const std::int32_t startPosition = chainPosition_[start];
        std::int32_t wrapped = 0;
        for (std::int32_t n = FindIndexHead(parent, NameKey(name)); n != 0; n = sameKeyNext_[n]) {
            if (!SameName(NameAt(n), name))
                continue;
            if (chainPosition_[n] >= startPosition)
                return n;
            if (wrapped == 0)
                wrapped = n;
        }
        return wrapped;
    }
    std::int32_t n = start;
    do {
        if (SameName(NameAt(n), name))
            return n;
        n = nodes_[n].next;
        if (n == 0 && parent != 0)
            n = nodes_[parent].firstChild;
    } while (n != 0 && n != start);
    return 0;
}

std::int32_t LibraryMap::CountFiles(std::int32_t node) const
{
    if (!IsNode(node))
        return 0;
    if (nodes_[node].firstChild == 0)
        return nodes_[node].folder ? 0 : 1;
    // Depth first without a stack: down through first children, along
    // siblings, and up through parents until back at `node`.
    std::int32_t count = 0;
    std::int32_t n = nodes_[node].firstChild;
    for (;;) {
        if (nodes_[n].firstChild != 0) {
            n = nodes_[n].firstChild;
            continue;
        }
        if (!nodes_[n].folder)
            ++count;
        while (nodes_[n].next == 0) {
            n = nodes_[n].parent;
            if (n == node)
                return count;
        }
        n = nodes_[n].next;
    }
}

KR::ErrorCode LibraryMap::GetNodeLocation(std::int32_t node, const IO::Location& root, IO::Location* location) const
{
    if (location == nullptr)
        return KR::ErrIllegalArgument;
    location->Clear();
    if (!IsNode(node))
        return KR::ErrIllegalArgument;
    // The names from the node up to (not including) the root node.
    std::int32_t chain[MaxLocationDepth];
    std::int32_t depth = 0;
    for (std::int32_t n = node; n != RootNode && n != 0; n = nodes_[n].parent) {
        if (depth == MaxLocationDepth)
            return ErrMapTooDeep;
        chain[depth++] = n;
    }
    IO::Location result(root);
    while (depth > 0) {
        const IO::Name name(NameAt(chain[--depth]));
        if (!name.IsValid())
            return IO::ErrBadName;
        if (const KR::ErrorCode err = result.AppendToLocal(name); err != KR::NoError)
            return err;
    }
    *location = std::move(result);
    return KR::NoError;
}

IO::Name LibraryMap::GetNodeName(std::int32_t node) const
{
    return IO::Name(GetNameText(node));
}

const char* LibraryMap::GetNameText(std::int32_t node) const
{
    return IsNode(node) ? NameAt(node) : "";
}

const MapNode& LibraryMap::GetNode(std::int32_t node) const
{
    if (!IsNode(node))
        ThrowNoNode("GetNode");
    return nodes_[node];
}

void LibraryMap::SetState(std::int32_t node, std::int32_t state)
{
    if (!IsNode(node))
        ThrowNoNode("SetState");
    nodes_[node].state = state;
}

void LibraryMap::SetModificationTime(std::int32_t node, std::int32_t time)
{
    if (!IsNode(node))
        ThrowNoNode("SetModificationTime");
    nodes_[node].modificationTime = time;
}

// ----- The family index -----------------------------------------------------------

void LibraryMap::ClearIndex() const
{
    families_.clear();
}

std::int32_t LibraryMap::FindIndexHead(std::int32_t parent, std::uint64_t key) const noexcept
{
    const FamilyTable& table = families_[static_cast<std::size_t>(familyTable_[parent]) - 1];
    const std::size_t mask = table.slots.size() - 1;
    const auto shortKey = static_cast<std::uint32_t>(key >> 32);
    for (std::size_t i = static_cast<std::size_t>(key) & mask;; i = (i + 1) & mask) {
        const IndexSlot& slot = table.slots[i];
        if (slot.head == 0)
            return 0;
        if (slot.key == shortKey)
            return slot.head;
    }
}

std::int32_t& LibraryMap::IndexHead(std::int32_t parent, std::uint64_t key) const
{
    FamilyTable& table = families_[static_cast<std::size_t>(familyTable_[parent]) - 1];
    // At most three quarters full, so that a search that misses ends soon.
    if ((table.used + 1) * 4 > table.slots.size() * 3) {
        std::vector<IndexSlot> old;
        old.swap(table.slots);
        table.slots.assign(old.empty() ? 64 : old.size() * 2, IndexSlot{});
        const std::size_t mask = table.slots.size() - 1;
        for (const IndexSlot& slot : old) {
            if (slot.head == 0)
                continue;
            // The slot's place comes from the low bits of the full key,
            // which the short key does not hold: take them from its node.
            std::size_t i = static_cast<std::size_t>(NameKey(NameAt(slot.head))) & mask;
            while (table.slots[i].head != 0)
                i = (i + 1) & mask;
            table.slots[i] = slot;
        }
    }
    const std::size_t mask = table.slots.size() - 1;
    const auto shortKey = static_cast<std::uint32_t>(key >> 32);
    std::size_t i = static_cast<std::size_t>(key) & mask;
    while (table.slots[i].head != 0 && table.slots[i].key != shortKey)
        i = (i + 1) & mask;
    if (table.slots[i].head == 0) {
        table.slots[i].key = shortKey;
        ++table.used;
    }
    return table.slots[i].head;
}

void LibraryMap::IndexNode(std::int32_t node) const
{
    // Nodes are indexed from the end of their chain to its start, so
    // putting each in front keeps every key's list in chain order.
    std::int32_t& head = IndexHead(nodes_[node].parent, NameKey(NameAt(node)));
    sameKeyNext_[node] = head;
    head = node;
}

void LibraryMap::IndexFamily(std::int32_t parent) const
{
    families_.emplace_back();
    familyTable_[parent] = static_cast<std::int32_t>(families_.size());
    scratch_.clear();
    for (std::int32_t n = nodes_[parent].firstChild; n != 0; n = nodes_[n].next) {
        chainPosition_[n] = static_cast<std::int32_t>(scratch_.size());
        scratch_.push_back(n);
    }
    for (std::size_t i = scratch_.size(); i > 0; --i)
        IndexNode(scratch_[i - 1]);
}

// ----- The map file ---------------------------------------------------------------

KR::ErrorCode LibraryMap::GetMapFileLocation(const IO::Name& mapName, const IO::Location& cacheRoot,
                                             const IO::Location& cacheCopy, IO::Location* file)
{
    if (file == nullptr)
        return KR::ErrIllegalArgument;
    file->Clear();
    const IO::Location mapsFolder(cacheRoot, mapName);
    IO::Folder folder(mapsFolder, IO::OnNotFound::Create);
    if (const KR::ErrorCode err = folder.GetStatus(); err != KR::NoError)
        return err;
    IO::Name libraryName;
    cacheCopy.GetLastLocalName(&libraryName);
    const KR::ErrorCode err = folder.CreateFolder(libraryName);
    if (err != KR::NoError && err != IO::ErrAlreadyExists)
        return err;
    *file = IO::Location(IO::Location(mapsFolder, libraryName), mapName);
    return file->GetStatus();
}

KR::ErrorCode LibraryMap::Write(KR::OChannel& channel, const IO::Name& libraryName) const
{
    KR::ErrorCode err = channel.Write(std::int32_t{0});  // complete: set once everything is written
    if (err == KR::NoError)
        err = libraryName.Write(channel);
    const std::int32_t header[] = {GetNodeCount(), poolCapacity_, poolUsed_, fileCount_, currentNode_};
    for (std::int32_t value : header)
        if (err == KR::NoError)
            err = channel.Write(value);
    for (std::size_t i = 1; i < nodes_.size() && err == KR::NoError; ++i) {
        const MapNode& node = nodes_[i];
        const std::int32_t links[] = {node.next, node.firstChild, node.parent, node.name};
        for (std::int32_t value : links)
            if (err == KR::NoError)
                err = channel.Write(value);
        if (err == KR::NoError)
            err = channel.Write(static_cast<std::uint8_t>(node.folder ? 1 : 0));
        if (err == KR::NoError)
            err = channel.Write(node.modificationTime);
        if (err == KR::NoError)
            err = channel.Write(node.state);
    }
    if (err == KR::NoError)
        err = channel.WriteBin(pool_.data(), static_cast<std::size_t>(poolUsed_));
    return err;
}

KR::ErrorCode LibraryMap::WriteMapFile(const IO::Name& mapName, const IO::Location& cacheRoot,
                                       const IO::Location& cacheCopy) const
{
    IO::Location location;
    KR::ErrorCode err = GetMapFileLocation(mapName, cacheRoot, cacheCopy, &location);
    if (err != KR::NoError)
        return err;
    IO::Name libraryName;
    cacheCopy.GetLastLocalName(&libraryName);
    // Written beside the map file and put in its place when complete: the
    // old map stays whole until the new one is.
    IOUtil::ScratchFile scratch(location);
    err = scratch.GetStatus();
    if (err == KR::NoError)
        err = scratch.Open(IO::OpenMode::ReadWrite);
    if (err == KR::NoError)
        err = Write(scratch, libraryName);
    if (err == KR::NoError)
        err = scratch.SetPosition(0);
    if (err == KR::NoError)
        err = scratch.Write(std::int32_t{1});
    if (err == KR::NoError)
        err = scratch.MakePermanent();
    return err;
}

KR::ErrorCode LibraryMap::ReadMapFile(const IO::Name& mapName, const IO::Location& cacheRoot,
                                      const IO::Location& cacheCopy)
{
    Reset();
    IO::Location location;
    KR::ErrorCode err = GetMapFileLocation(mapName, cacheRoot, cacheCopy, &location);
    if (err != KR::NoError)
        return err;
    IO::File file(location);
    err = file.GetStatus();
    if (err == KR::NoError)
        err = file.Open(IO::OpenMode::Read);
    if (err != KR::NoError)
        return err;
    std::int64_t size = 0;
    err = file.GetSize(&size);
    if (err == KR::NoError) {
        IO::Name libraryName;
        cacheCopy.GetLastLocalName(&libraryName);
        err = Read(file, libraryName, static_cast<std::uint64_t>(size));
    }
    file.Close();
    return err;
}

KR::ErrorCode LibraryMap::Read(KR::IChannel& channel, const IO::Name& libraryName, std::uint64_t size)
{
    Reset();
    const KR::ErrorCode err = ReadContent(channel, libraryName, size);
    if (err != KR::NoError)
        Reset();
    return err;
}

KR::ErrorCode LibraryMap::ReadNodes(KR::IChannel& channel, std::vector<MapNode>& nodes)
{
    if (&channel.GetProtocol() != &KR::binIProtocol) {
        // Another protocol decides the byte order: value by value through it.
        for (std::size_t i = 1; i < nodes.size(); ++i) {
            MapNode& node = nodes[i];
            std::uint8_t folder = 0;
            for (std::int32_t* value : {&node.next, &node.firstChild, &node.parent, &node.name})
                if (KR::ErrorCode err = channel.Read(*value); err != KR::NoError)
                    return err;
            if (KR::ErrorCode err = channel.Read(folder); err != KR::NoError)
                return err;
            node.folder = folder != 0;
            if (KR::ErrorCode err = channel.Read(node.modificationTime); err != KR::NoError)
                return err;
            if (KR::ErrorCode err = channel.Read(node.state); err != KR::NoError)
                return err;
        }
        return KR::NoError;
    }
    // The binary protocol keeps this machine's byte order: the nodes are read
    // in large blocks and taken apart in memory, instead of seven channel
    // calls per node. The caller has checked that the bytes are there.
    constexpr std::size_t BlockNodes = 4096;
    std::vector<char> block(BlockNodes * NodeFileSize);
    for (std::size_t first = 1; first < nodes.size(); first += BlockNodes) {
        const std::size_t n = std::min(BlockNodes, nodes.size() - first);
        if (KR::ErrorCode err = channel.ReadBin(block.data(), n * NodeFileSize); err != KR::NoError)
            return err;
        const char* p = block.data();
        for (std::size_t i = first; i < first + n; ++i, p += NodeFileSize) {
            MapNode& node = nodes[i];
            std::memcpy(&node.next, p, 4);
            std::memcpy(&node.firstChild, p + 4, 4);
            std::memcpy(&node.parent, p + 8, 4);
            std::memcpy(&node.name, p + 12, 4);
            node.folder = p[16] != 0;
            std::memcpy(&node.modificationTime, p + 17, 4);
            std::memcpy(&node.state, p + 21, 4);
        }
    }
    return KR::NoError;
}

KR::ErrorCode LibraryMap::ReadContent(KR::IChannel& channel, const IO::Name& libraryName, std::uint64_t size)
{
    std::int32_t complete = 0;
    if (KR::ErrorCode err = channel.Read(complete); err != KR::NoError)
        return err;
    if (complete == 0)
        return ErrMapIncomplete;
    if (complete != 1)
        return KR::ErrBadFormat;
    IO::Name storedName;
    if (KR::ErrorCode err = storedName.Read(channel); err != KR::NoError)
        return err;
    if (storedName != libraryName)
        return ErrMapOtherLibrary;

    std::int32_t count = 0, capacity = 0, used = 0, files = 0, current = 0;
    for (std::int32_t* value : {&count, &capacity, &used, &files, &current})
        if (KR::ErrorCode err = channel.Read(*value); err != KR::NoError)
            return err;
    // The counts first, so that nothing is allocated for what the bytes
    // cannot hold and no link is followed outside the arrays.
    if (count < 1 || used < 1 || capacity < used || capacity - used > MaxPoolSlack || files < 0 || current < 1 ||
        current > count)
        return KR::ErrBadFormat;
    if (static_cast<std::uint64_t>(count) * NodeFileSize + static_cast<std::uint64_t>(used) > size)
        return KR::ErrBadFormat;

    std::vector<MapNode> nodes(static_cast<std::size_t>(count) + 1);
    if (KR::ErrorCode err = ReadNodes(channel, nodes); err != KR::NoError)
        return err;
    std::vector<char> pool(static_cast<std::size_t>(capacity), '\0');
    if (KR::ErrorCode err = channel.ReadBin(pool.data(), static_cast<std::size_t>(used)); err != KR::NoError)
        return err;

    // Names: the root's is the empty name at offset 0, every other one a
    // usable name inside the used part of the pool, which ends with a zero.
    if (pool[0] != '\0' || pool[static_cast<std::size_t>(used) - 1] != '\0')
        return KR::ErrBadFormat;
    for (std::size_t i = 1; i < nodes.size(); ++i) {
        const MapNode& node = nodes[i];
        if (node.next < 0 || node.next > count || node.firstChild < 0 || node.firstChild > count ||
            node.parent < 0 || node.parent > count || node.name < 0 || node.name >= used)
            return KR::ErrBadFormat;
        if (i == RootNode) {
            if (node.parent != 0 || node.next != 0 || node.name != 0 || !node.folder)
                return KR::ErrBadFormat;
        } else if (node.parent == 0 || !UsableName(pool.data() + node.name)) {
            return KR::ErrBadFormat;
        }
    }
    // The links must form one tree: every node reached exactly once from the
    // root through first children and siblings, each under the parent it
    // names. Then no walk of the map can loop or leave the array.
    std::vector<std::uint8_t> seen(nodes.size(), 0);
    std::vector<std::int32_t> children(nodes.size(), 0);
    std::vector<std::int32_t> pending{RootNode};
    seen[RootNode] = 1;
    std::size_t reached = 1;
    while (!pending.empty()) {
        const std::int32_t parent = pending.back();
        pending.pop_back();
        for (std::int32_t n = nodes[parent].firstChild; n != 0; n = nodes[n].next) {
            if (seen[n] != 0 || nodes[n].parent != parent)
                return KR::ErrBadFormat;
            seen[n] = 1;
            ++reached;
            ++children[parent];
            pending.push_back(n);
        }
    }
    if (reached != static_cast<std::size_t>(count))
        return KR::ErrBadFormat;

    nodes_ = std::move(nodes);
    pool_ = std::move(pool);
    poolUsed_ = used;
    poolCapacity_ = capacity;
    fileCount_ = files;
    currentNode_ = current;
    childCount_ = std::move(children);
    familyTable_.assign(nodes_.size(), 0);
    chainPosition_.assign(nodes_.size(), 0);
    sameKeyNext_.assign(nodes_.size(), 0);
    ClearIndex();
    return KR::NoError;
}

}  // namespace LM
