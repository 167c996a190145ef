// A small application of the library manager: it initialises the module,
// makes a library set, adds a folder as a library and prints what the set
// knows of it. It also builds a path tree of its own (and a hierarchy class
// derived from the module's), writes it to a channel and reads it back, so
// that the path tree's exported interface is used from outside the module.
//
//   consumer [folder]     (default: a new temporary folder)
#include "LibraryManager.hpp"

#include "IO/ZipVFS.hpp"
#include "KR/Channel.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// Prints what the set reports; asks nothing of the user.
class PrintingErrorHandler : public LM::ILibraryErrorHandler {
public:
    void DuplicateCheckStarted() override {}
    void DuplicateFilesFound(const LM::DuplicateNameReport* report) override { Print("duplicate files", report->name); }
    void DuplicateUnIDFound(const LM::DuplicateUnIDReport* report) override { Print("duplicate identifier", report->name); }
    void DuplicateNameFound(const LM::DuplicateNameReport* report) override { Print("duplicate name", report->name); }
    void ApplicationReport(KR::ErrorCode, const IO::Location&) override {}
    void CacheEqualsLibrary(const IO::Location&, const IO::Location&) override { Print("cache", "equals library"); }
    void CacheNestedWithLibrary(const IO::Location&, const IO::Location&) override { Print("cache", "nested"); }
    void DownloadFailed(const IO::Location& library, const IO::Location&) override { Print("download failed", library.GetText().c_str()); }
    void UploadFailed(const IO::Location& library, const IO::Location&) override { Print("upload failed", library.GetText().c_str()); }
    std::int32_t AskDeletedFromLibrary(const IO::Location&, const IO::Location&) override { return 0; }
    std::int32_t AskChangedInBoth(const IO::Location&, const IO::Location&) override { return 0; }
    std::int32_t AskNameTooLong(const IO::Name&) override { return 0; }

private:
    static void Print(const char* what, const char* name) { std::printf("%s: %s\n", what, name); }
};

// An application's own kind of hierarchy.
class TaggedHierarchy : public LM::AncestryHierarchy {
public:
    explicit TaggedHierarchy(LM::LibrarySet* set) : LM::AncestryHierarchy(set) {}
};

KR::UnID MakeId(std::uint32_t main, std::uint32_t revision)
{
    KR::UnID id{};
    id.mainGuid.data1 = main;
    id.revGuid.data1 = revision;
    return id;
}

// Two paths that share their first node, one of them deleted again; the
// tree is taken into a hierarchy, written, read back and printed.
bool UsePathTree(LM::LibrarySet* set)
{
    using Tree = KR::Paths<KR::UnID, Cmp_UnIDs>;
    Tree tree;
    const KR::UnID door[] = {MakeId(1, 1), MakeId(2, 1)};
    const KR::UnID window[] = {MakeId(1, 1), MakeId(3, 1)};
    const std::uint32_t doorPath = tree.AddPath(door, 2);
    const std::uint32_t windowPath = tree.AddPath(window, 2);
    tree.DeletePath(windowPath);

    // A hierarchy is stored in a frame of its class: the plain tree goes
    // into one before it is written.
    TaggedHierarchy original(set);
    original.Merge(tree);
    KR::StringOChannel bytes(KR::binOProtocol);
    if (doorPath == 0 || original.Write(bytes) != 0)
        return false;
    TaggedHierarchy copy(set);
    KR::StringIChannel in(bytes.Take());
    if (copy.Read(in) != 0)
        return false;
    KR::StringOChannel text;
    copy.Print(text);
    std::printf("path tree: %u nodes on the door's path, %zu bytes printed\n",
                static_cast<unsigned>(copy.GetPathLength(copy.FindPathId(MakeId(2, 1)))), text.GetText().size());
    return copy.GetLibrarySet() == set && !text.GetText().empty();
}

}  // namespace

int main(int argc, char** argv)
{
    std::string folder;
    if (argc > 1) {
        folder = argv[1];
    } else {
        char pattern[] = "/tmp/lm-consumer-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        folder = pattern;
    }

    LM::LibraryManagerCallBacks callBacks;
    callBacks.createFixedVFS = &IO::CreateZipVFS;
    LM::LibraryManagerStrings strings;
    strings.Set(5, "Libraries");
    strings.Set(6, "ScriptCodeCache");
    strings.Set(7, "Other Objects");
    strings.Set(8, "Missing Parts");
    LM::InitLibraryManager(callBacks, strings, 1, 2, IO::Location(folder));

    int status = 0;
    {
        PrintingErrorHandler handler;
        LM::LibrarySet set(handler, KR::ConstForwardIterator<FTM::GeneralID>());
        std::int32_t index = set.AddActiveLibrary(IO::Location(folder), LM::NotPermanent, false, true);
        KR::String name;
        if (index < 0 || set.GetActiveLibraryName(index, &name) != 0) {
            std::printf("could not add %s\n", folder.c_str());
            status = 1;
        } else {
            std::printf("library: %s\n", name.ToCStr());
            std::printf("exists: %s\n", set.IsExistActiveLibrary(index) ? "yes" : "no");
            std::printf("libraries: %d\n", static_cast<int>(set.GetActiveLibraryNum()));
        }
        if (!UsePathTree(&set)) {
            std::printf("the path tree failed\n");
            status = 1;
        }
    }
    LM::FreeLibraryManager();
    if (argc <= 1)
        ::rmdir(folder.c_str());
    return status;
}
