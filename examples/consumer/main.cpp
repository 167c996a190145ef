// A small application of the library manager: it initialises the module,
// makes a library set, adds a folder as a library (and, when a URL cache is
// given, a URL library whose cache copy lies there), enumerates the set with
// a progress sink of its own, searches it, walks its type hierarchy and
// prints the counts. It also builds a path tree of its own (and a hierarchy
// class derived from the module's), writes it to a channel and reads it
// back, so that the path tree's exported interface is used from outside the
// module.
//
//   consumer [folder [url-cache]]     (default: a new temporary folder)
//
// Part files end in .lpf, script files in .lps (as `lpf generate` writes).
#include "LibraryManager.hpp"

#include "IO/ZipVFS.hpp"
#include "FTM/FileTypes.hpp"
#include "KR/Channel.hpp"
#include "KRUtils/Progress.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
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

// Counts what the progress window would show; never asks to cancel.
class CountingSink : public KRUtils::IProgressSink {
public:
    void SetNextPhase(std::int16_t, std::int32_t total) override
    {
        ++phases;
        files += total;
    }
    std::int32_t phases = 0;
    std::int64_t files = 0;
};

// Enumerates the set and prints what it holds.
bool EnumerateAndPrint(LM::LibrarySet& set)
{
    CountingSink sink;
    KRUtils::IProgressSink* previous = KRUtils::SetProgressSink(&sink);
    const std::int32_t result = set.Enumerate();
    KRUtils::SetProgressSink(previous);
    if (result != 0) {
        std::printf("enumeration failed: %d\n", static_cast<int>(result));
        return false;
    }
    std::int32_t valid = 0;
    std::int32_t withAncestry = 0;
    for (std::int32_t i = 0; i < set.GetSymbolNumber(); ++i) {
        valid += set.IsSymbolValid(i) ? 1 : 0;
        LM::AncestryInfo info;
        if (set.GetSymbolAncestryInfo(i, &info) == 0 && info.GetAncestorsCount() > 0)
            ++withAncestry;
    }
    KR::VAArray<std::int32_t> walk;
    const std::int32_t walked = set.GetPreorderAncestryTreeWalk(&walk);
    std::printf("enumerated: %s\n", set.IsEnumerated() ? "yes" : "no");
    // Without a LAN cache in use there is nothing to synchronise.
    std::printf("downloaded from libraries: %s\n", set.SynchronizeCachedSymbols(true, true) ? "yes" : "no");
    std::printf("progress phases: %d, files announced: %lld\n", static_cast<int>(sink.phases),
                static_cast<long long>(sink.files));
    std::printf("parts: %d\n", static_cast<int>(set.GetSymbolNumber()));
    std::printf("valid parts: %d\n", static_cast<int>(valid));
    std::printf("parts with ancestors: %d\n", static_cast<int>(withAncestry));
    std::printf("folders: %d\n", static_cast<int>(set.GetFolderNumber()));
    std::printf("hierarchy walk: %d\n", static_cast<int>(walked));
    // The first part in name order is found again by its name.
    if (set.GetSymbolNumber() > 0) {
        char name[32] = {};
        const std::int32_t first = set.GetSortedSymbolIndexByName(0);
        set.GetSymbolDocumentName(first, name);
        std::printf("search by name: %s\n", set.SearchSymbolDocuName(name) == first ? "found" : "missed");
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string folder;
    const std::string urlCache = argc > 2 ? argv[2] : "";
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
    FTM::FileType partType("Library part");
    partType.AddExtension("lpf");
    FTM::FileType scriptType("Library script");
    scriptType.AddExtension("lps");
    const FTM::GeneralID storable[] = {FTM::FileTypeManager::AddType(partType),
                                       FTM::FileTypeManager::AddType(scriptType)};
    strings.Set(4, "File Count");
    LM::InitLibraryManager(callBacks, strings, storable[0], storable[1], IO::Location(folder));

    int status = 0;
    {
        PrintingErrorHandler handler;
        LM::LibrarySet set(handler,
                           KR::ConstForwardIterator<FTM::GeneralID>(std::begin(storable), std::end(storable)));
        std::int32_t index = set.AddActiveLibrary(IO::Location(folder), LM::NotPermanent, false, true);
        if (!urlCache.empty()) {
            // The URL library's content is its copy in the URL cache, in a
            // folder named like the URL's last folder.
            set.SetFtpCacheLocation(IO::Location(urlCache));
            set.AddActiveLibrary(KR::String("http://example.invalid/Shared Parts/"), LM::NotPermanent, false);
            index = set.GetActiveLibraryIndex(IO::Location(folder));  // the list is ordered by name
        }
        KR::String name;
        if (index < 0 || set.GetActiveLibraryName(index, &name) != 0) {
            std::printf("could not add %s\n", folder.c_str());
            status = 1;
        } else {
            std::printf("library: %s\n", name.ToCStr());
            std::printf("exists: %s\n", set.IsExistActiveLibrary(index) ? "yes" : "no");
            std::printf("libraries: %d\n", static_cast<int>(set.GetActiveLibraryNum()));
        }
        if (!EnumerateAndPrint(set))
            status = 1;
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
