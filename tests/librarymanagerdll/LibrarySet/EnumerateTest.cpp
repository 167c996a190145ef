// Enumeration of real library folders: the folder set and its renumbering,
// the part records, other objects, progress and cancel, mount points and
// container libraries, the file count file; and one bad file or folder never
// breaks an enumeration: everything else is enumerated, nothing hangs, and no
// descriptor stays open.
#include "EnumerateTestSupport.hpp"

#include "IO/FileSystem.hpp"
#include "KR/Exceptions.hpp"
#include "KR/Time.hpp"
#include "LibrarySetObserver.hpp"
#include "Support/FaultPlatform.hpp"
#include "Support/Zip.hpp"

#include <cstring>
#include <filesystem>

namespace EnumerateTest {
namespace {

using PartTableTest::MakeUnID;

std::string Bytes(std::int32_t a, std::int32_t b)
{
    std::string out(8, '\0');
    std::memcpy(out.data(), &a, 4);
    std::memcpy(out.data() + 4, &b, 4);
    return out;
}

// The folder that encloses `location`: the location without its last name.
IO::Location Enclosing(const IO::Location& location)
{
    IO::Location parent(location);
    parent.DeleteLastLocalName();
    return parent;
}

class Enumerate : public EnumerateFixture {};

TEST_F(Enumerate, FoldersAreOrderedAndEveryLinkNamesTheEnclosingFolder)
{
    // Walked in byte order: B before a, and Beams, Columns, Details before
    // Extras. The name order puts a before B, and ordering by the old parent
    // index moves Extras before Columns.
    WritePart("Lib/B/b.gsm", "b", MakeUnID(1, 1));
    WritePart("Lib/a/a.gsm", "a", MakeUnID(2, 1));
    WritePart("Lib/Beams/Columns/Details/d.gsm", "d", MakeUnID(3, 1));
    WritePart("Lib/Beams/Columns/c.gsm", "c", MakeUnID(4, 1));
    WritePart("Lib/Extras/e.gsm", "e", MakeUnID(5, 1));
    WritePart("Lib/top.gsm", "top", MakeUnID(6, 1));
    ASSERT_EQ(AddLibrary("Lib"), 0);

    // Tree item ids of an earlier enumeration do not survive the next one.
    ASSERT_EQ(set->Enumerate(), 0);
    for (std::int32_t k = 0; k < set->GetFolderNumber(); ++k)
        set->SetFolderTreeItemId(k, 100 + k);
    ASSERT_EQ(set->Enumerate(), 0);

    std::vector<std::string> names;
    for (std::int32_t k = 0; k < set->GetFolderNumber(); ++k) {
        names.push_back(Folder(k).name.Std() + "/" + std::to_string(Folder(k).parent));
        EXPECT_EQ(Folder(k).treeItemId, 0) << k;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Libraries/-1", "Lib/0", "a/1", "B/1", "Beams/1", "Extras/1",
                                               "Columns/4", "Details/6", "Other Objects/0", "Missing Parts/0"}));

    // Every folder below the library's top folder names its enclosing
    // folder as parent, and every part carries the folder that holds it.
    for (std::int32_t k = 2; k < set->GetFolderNumber() - 2; ++k)
        EXPECT_EQ(Folder(Folder(k).parent).location, Enclosing(Folder(k).location)) << Folder(k).name.Std();
    ASSERT_EQ(set->GetSymbolNumber(), 6);
    for (std::int32_t i = 0; i < set->GetSymbolNumber(); ++i) {
        IO::Location location;
        ASSERT_EQ(set->GetSymbolLocation(i, &location), 0);
        EXPECT_EQ(Folder(set->GetSymbolFolderIndex(i)).location, Enclosing(location)) << location.GetText();
    }
    EXPECT_TRUE(set->IsEnumerated());
}

TEST_F(Enumerate, OtherObjectsAreStoredIntoTheFirstClosingFolderOnce)
{
    WritePart("Lib/inside.gsm", "inside", MakeUnID(1, 1));
    const IO::Location outside = WritePart("Loose/outside.gsm", "outside", MakeUnID(2, 1));
    const IO::Location viaUrl = WritePart("UrlCache/fetched.gsm", "fetched", MakeUnID(3, 1));
    ASSERT_EQ(AddLibrary("Lib"), 0);
    ASSERT_EQ(set->SetFtpCacheLocation(dir.Loc("UrlCache")), 0);
    set->AddOtherObject(outside);
    set->AddOtherObject(dir.Loc("Loose/missing.gsm"));
    set->AddOtherObject(dir.Loc("Lib/inside.gsm"));  // already in the table through its library
    set->AddOtherObject(KR::String("http://example.invalid/parts/fetched.gsm"));

    ASSERT_EQ(set->Enumerate(), 0);
    const std::int32_t others = set->GetFolderNumber() - 2;
    EXPECT_EQ(set->GetSymbolNumber(), 3);
    const std::int32_t stored = set->SearchSymbol(outside);
    ASSERT_NE(stored, -1);
    EXPECT_EQ(set->GetSymbolFolderIndex(stored), others);
    EXPECT_EQ(set->SearchSymbol(dir.Loc("Loose/missing.gsm")), -1);
    EXPECT_NE(set->GetSymbolFolderIndex(set->SearchSymbol(dir.Loc("Lib/inside.gsm"))), others);
    const std::int32_t fetched = set->SearchSymbol(viaUrl);
    ASSERT_NE(fetched, -1);
    EXPECT_EQ(set->GetSymbolFolderIndex(fetched), others);
    KR::String url;
    ASSERT_EQ(set->GetSymbolUrl(fetched, &url), 0);
    EXPECT_EQ(url.Std(), "http://example.invalid/parts/fetched.gsm");
}

TEST_F(Enumerate, ProgressShowsOnePhasePerLibraryAndAValueEveryFiftyFiles)
{
    WriteTexts("A", 120);
    WriteTexts("B", 3);
    dir.MakeFolder("Gone");
    ASSERT_EQ(AddLibrary("A"), 0);
    ASSERT_EQ(AddLibrary("B"), 1);
    ASSERT_EQ(AddLibrary("Gone"), 2);
    std::filesystem::remove_all(dir / "Gone");  // exists for the set, vanished on disk

    struct Observer : LM::LibrarySetObserver {
        void SomethingHappened() override { enumeratedWhenTold.push_back(set->IsEnumerated()); }
        LM::LibrarySet* set = nullptr;
        std::vector<bool> enumeratedWhenTold;
    } observer;
    observer.set = set.get();
    set->Attach(observer);

    RecordingSink sink;
    ASSERT_EQ(set->Enumerate(), 0);
    set->Detach(observer);
    EXPECT_EQ(observer.enumeratedWhenTold, std::vector<bool>{false});

    const std::string window = "window 84 4 " + std::to_string(2 * KR::clockManager.GetTicksPerSecond());
    ASSERT_GE(sink.calls.size(), 4u);
    EXPECT_EQ(sink.calls[1], window);
    EXPECT_EQ(std::vector<std::string>(sink.calls.end() - 3, sink.calls.end()),
              (std::vector<std::string>{"close", "end", "name reset"}));
    EXPECT_EQ(sink.With("name "), (std::vector<std::string>{"name A", "name B", "name reset"}));
    EXPECT_EQ(sink.With("phase "), (std::vector<std::string>{"phase 0 120", "phase 0 3"}));
    EXPECT_EQ(sink.With("value ", true), (std::vector<std::string>{"value 0", "value 50", "value 100", "value 0"}));
    EXPECT_EQ(sink.breakChecks, 4);
}

TEST_F(Enumerate, FoldersDeeperThanTheFolderStackAreNotEntered)
{
    std::string path = "Deep";
    for (int level = 1; level <= 120; ++level) {
        path += "/d";
        if (level == 99 || level == 100)
            dir.WriteFile(path + "/at" + std::to_string(level) + ".txt", "x");
    }
    ASSERT_EQ(AddLibrary("Deep"), 0);
    ASSERT_EQ(set->Enumerate(), 0);
    EXPECT_NE(set->SearchSymbolFileName("at99.txt"), -1);
    // Root item, the library's top folder and 99 levels, then the closing items.
    EXPECT_EQ(set->GetFolderNumber(), 1 + 1 + 99 + 2);
}

// The file count file: a valid one sizes the progress and is rewritten with
// the new count (only when it changed); one with a wrong tag (the other byte
// order) or too short is ignored and never written.
TEST_F(Enumerate, FileCountFileSizesTheProgressOnlyWhenValid)
{
    const std::string wrong = Bytes(0x3630324C, 1), shortFile = Bytes(0x4C323036, 0).substr(0, 6);
    const std::pair<const char*, std::string> files[] = {{"None", ""}, {"Short", shortFile}, {"Valid", Bytes(0x4C323036, 2)}, {"Wrong", wrong}};
    auto countFile = [&](const std::string& library) { return dir / (library + "/" + CountFileName); };
    for (const auto& [library, bytes] : files) {
        WriteTexts(library, 5);
        if (!bytes.empty())
            TestSupport::WriteFileBytes(countFile(library), bytes);
        AddLibrary(library);
    }
    RecordingSink sink;
    ASSERT_EQ(set->Enumerate(), 0);
    EXPECT_EQ(sink.With("phase "), (std::vector<std::string>{"phase 0 5", "phase 0 6", "phase 0 2", "phase 0 6"}));
    EXPECT_EQ(TestSupport::ReadFileBytes(countFile("Valid")), Bytes(0x4C323036, 6));  // five parts and itself
    EXPECT_EQ(TestSupport::NamesIn(dir / "Valid").size(), 6u);  // no scratch file left
    EXPECT_EQ(TestSupport::ReadFileBytes(countFile("Wrong")), wrong);
    EXPECT_EQ(TestSupport::ReadFileBytes(countFile("Short")), shortFile);
    EXPECT_FALSE(std::filesystem::exists(countFile("None")));

    TestSupport::SetUnixTime(countFile("Valid"), 1000000);  // unchanged count: left alone
    ASSERT_EQ(set->Enumerate(), 0);
    EXPECT_EQ(TestSupport::UnixTimeOf(countFile("Valid")), 1000000);
}

// ----- Reliability ---------------------------------------------------------------

using EnumerateReliability = EnumerateFixture;

TEST_F(EnumerateReliability, BadPartFilesLeaveEveryOtherPartEnumerated)
{
    for (std::uint32_t k = 0; k < 10; ++k)
        WritePart("Lib/Good/p" + std::to_string(k) + ".gsm", "good" + std::to_string(k), MakeUnID(100 + k, 1));
    const std::string whole = [&] {
        LPF::PartFileWriter writer(LPF::PartKind::Symbol);
        writer.SetOwnUnID(MakeUnID(9, 9));
        EXPECT_EQ(writer.SetDocumentName("whole"), 0);
        return writer.ToBytes();
    }();
    dir.WriteFile("Lib/Bad/empty.gsm", "");
    dir.WriteFile("Lib/Bad/truncated.gsm", whole.substr(0, whole.size() / 2));
    dir.WriteFile("Lib/Bad/unreadable.gsm", whole);
    WriteTexts("Lib/Texts", 30);
    ASSERT_EQ(AddLibrary("Lib"), 0);

    // An unreadable file: refused by the system (as a file of mode 000 is to
    // a user who is not root). No file stays open, neither after the
    // enumeration nor after a part's attributes are read.
    TestSupport::FaultPlatform faults;
    faults.FailPath(dir / "Lib/Bad/unreadable.gsm", EACCES);
    const std::size_t before = TestSupport::OpenDescriptorCount();
    ASSERT_EQ(set->Enumerate(), 0);
    EXPECT_GT(faults.Injected(), 0u);
    EXPECT_EQ(TestSupport::OpenDescriptorCount(), before);

    for (std::uint32_t k = 0; k < 10; ++k) {
        const std::string good = "good" + std::to_string(k);
        char name[LM::DocumentNameSize] = {};
        EXPECT_EQ(set->GetSymbolDocumentName(set->SearchSymbolByUnID(MakeUnID(100 + k, 1), good.c_str()), name), 0);
        EXPECT_EQ(std::string(name), good);
    }
    // A part file that cannot be read is still a record (its validity
    // follows its location) but holds no open part file; the fallback name
    // is the file name without its extension.
    for (const char* name : {"empty", "truncated", "unreadable"}) {
        const std::int32_t i = set->SearchSymbol(dir.Loc(std::string("Lib/Bad/") + name + ".gsm"));
        ASSERT_NE(i, -1) << name;
        EXPECT_TRUE(set->IsSymbolValid(i)) << name;
        if (std::string(name) != "truncated") {
            EXPECT_EQ(set->GetSymbolFile(i), nullptr) << name;
            char documentName[LM::DocumentNameSize] = {};
            EXPECT_EQ(set->GetSymbolDocumentName(i, documentName), 0);
            EXPECT_STREQ(documentName, name);
        }
    }
    EXPECT_EQ(set->GetSymbolNumber(), 43);
    EXPECT_EQ(TestSupport::OpenDescriptorCount(), before);
}

}  // namespace
}  // namespace EnumerateTest
