// Storing parts and placeholders, during and after enumeration, and what
// bad input leaves behind.
#include "StoreTestSupport.hpp"

#include "KR/DebugChannel.hpp"
#include "LibrarySet/OtherObjectList.hpp"
#include "PartTable/PscBinCodesContainer.hpp"
#include "Support/FaultPlatform.hpp"
#include "Support/Handles.hpp"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <random>

namespace StoreTest {
namespace {

constexpr const char* IllegalPathIndex = "Illegal index in Paths<NodeData, Comparision>::";

class Storing : public StoreFixture {};

TEST_F(Storing, NewPartReadsItsFileAndItsAncestry)
{
    const KR::UnID root = MakeUnID(1, 1), own = MakeUnID(2, 1);
    const IO::Location location = WriteDerivedPart("Door.gsm", "Door", own, {root}, true);
    const std::int32_t i = set_->StoreSymbol(location, 0, -1);
    ASSERT_EQ(i, 0);
    EXPECT_EQ(DocumentName(i), "Door");
    EXPECT_TRUE(set_->IsSymbolValid(i));
    EXPECT_TRUE(set_->IsSymbolTemplate(i));
    EXPECT_EQ(PathNodes(i), (std::vector<KR::UnID>{root, own}));
    for (std::int32_t code : Table().Get(i)->GetSymbolData()->codeIndices)
        EXPECT_EQ(code, LM::SymbolData::CodeNotLookedUp);
    // While enumerating nothing but the record is touched.
    EXPECT_TRUE(Table().GetNameIndex().empty());
    ExpectConsistent();

    // A part without an ancestry section has no path; a script file never
    // gets one; other storable files get no part data at all.
    const std::int32_t plainPart = set_->StoreSymbol(WritePart("Plain.gsm", "Plain", MakeUnID(3, 1)), 0, -1);
    const std::int32_t script = set_->StoreSymbol(WriteScript("Macro.scr", "Macro"), 0, -1);
    const std::int32_t text = set_->StoreSymbol(WritePlain("Notes.txt"), 0, -1);
    EXPECT_EQ(PathIdOf(plainPart), 0u);
    EXPECT_FALSE(set_->IsSymbolTemplate(plainPart));
    EXPECT_EQ(PathIdOf(script), 0u);
    EXPECT_FALSE(set_->IsLibElementSymbol(text));
    EXPECT_EQ(DocumentName(text), "Notes");
    ExpectConsistent();
}

TEST_F(Storing, SameLocationTwiceAddsDuringEnumerationAndRefreshesAfter)
{
    const KR::UnID own = MakeUnID(5, 1);
    const IO::Location location = WriteDerivedPart("Window.gsm", "Window", own, {MakeUnID(4, 1)});
    EXPECT_EQ(set_->StoreSymbol(location, 0, -1), 0);
    EXPECT_EQ(set_->StoreSymbol(location, 0, -1), 1);
    FinishEnumeration();
    ExpectConsistent();

    // The first valid record of this location is refreshed in place: its
    // path is given back and taken again.
    const std::uint32_t before = PathIdOf(0);
    EXPECT_EQ(Tree().GetPathMultiplicity(before), 2u);
    EXPECT_EQ(set_->StoreSymbol(location, 0, -1), 0);
    EXPECT_EQ(set_->GetSymbolNumber(), 2);
    EXPECT_EQ(PathIdOf(0), PathIdOf(1));
    EXPECT_EQ(Tree().GetPathMultiplicity(PathIdOf(0)), 2u);
    ExpectConsistent();

    // The same through a correct hint.
    EXPECT_EQ(set_->StoreSymbol(location, 0, 1), 1);
    ExpectConsistent();
}

TEST_F(Storing, ReStoringDropsTheCompiledCodes)
{
    const IO::Location location = WriteDerivedPart("Lamp.gsm", "Lamp", MakeUnID(20, 1), {MakeUnID(21, 1)});
    const std::int32_t i = set_->StoreSymbol(location, 0, -1);
    FinishEnumeration();
    LM::PscBinCodesContainer* container = LM::LibrarySetInternals::GetScriptCodeContainer(*set_);
    ASSERT_NE(container, nullptr);
    TestSupport::OwnedHandle code("code");
    ASSERT_EQ(set_->SetSymbolPscBinCode(i, 2, code.h), 0);
    const std::int32_t item = Table().Get(i)->GetSymbolData()->codeIndices[1];
    ASSERT_TRUE(container->IsValidIndex(item));
    ASSERT_NE(container->GetItem(item).code, nullptr);

    EXPECT_EQ(set_->StoreSymbol(location, 0, -1), i);
    EXPECT_EQ(container->GetItem(item).code, nullptr);
    for (std::int32_t index : Table().Get(i)->GetSymbolData()->codeIndices)
        EXPECT_EQ(index, LM::SymbolData::NoCode);
    char** again = nullptr;
    EXPECT_NE(set_->GetSymbolPscBinCode(i, 2, &again), 0);
    EXPECT_EQ(again, nullptr);
    ExpectConsistent();
}

TEST_F(Storing, RecordWithoutPathIsNotRefreshed)
{
    // Script files and parts without ancestry section hold no path: storing
    // them again prints the path tree's refusal and leaves them as they are.
    const IO::Location script = WriteScript("Macro.scr", "Macro");
    const IO::Location part = WritePart("Plain.gsm", "Plain", MakeUnID(30, 1));
    const std::int32_t s = set_->StoreSymbol(script, 0, -1);
    const std::int32_t p = set_->StoreSymbol(part, 0, -1);
    FinishEnumeration();
    WritePart("Plain.gsm", "Renamed", MakeUnID(30, 1));
    std::filesystem::last_write_time(dir_ / "Plain.gsm", std::filesystem::file_time_type::clock::now() +
                                                              std::chrono::hours(1));
    KR::DebugCapture capture;
    EXPECT_EQ(set_->StoreSymbol(script, 0, -1), s);
    EXPECT_EQ(set_->StoreSymbol(part, 0, -1), p);
    EXPECT_NE(capture.GetText().find(IllegalPathIndex), std::string::npos);
    EXPECT_EQ(DocumentName(p), "Plain");
    ExpectConsistent();
}

TEST_F(Storing, KnownIndexMustBeTheRecordOfTheLocation)
{
    const IO::Location a = WriteDerivedPart("A.gsm", "A", MakeUnID(40, 1), {});
    const IO::Location b = WriteDerivedPart("B.gsm", "B", MakeUnID(41, 1), {});
    set_->StoreSymbol(a, 0, -1);
    set_->StoreSymbol(b, 0, -1);
    FinishEnumeration();
    const std::uint32_t pathOfB = PathIdOf(1);
    for (std::int32_t bad : {2, -2, 1 << 30, 1}) {  // outside the table, or another record
        EXPECT_EQ(set_->StoreSymbol(a, 0, bad), -1) << bad;
    }
    EXPECT_EQ(set_->GetSymbolNumber(), 2);
    EXPECT_EQ(PathIdOf(1), pathOfB);
    EXPECT_EQ(DocumentName(1), "B");
    ExpectConsistent();
    // While enumerating the hint is not looked at.
    set_->SetEnumerated(false);
    EXPECT_EQ(set_->StoreSymbol(a, 0, 7), 2);
}

TEST_F(Storing, FolderFromLocationAndOtherObjects)
{
    const IO::Location sub = dir_.MakeFolder("lib/sub");
    LM::FolderSet& folders = *set_->GetFolderSet();
    const std::int32_t lib = folders.AddFolder(dir_.Loc("lib"), KR::String("lib"), 0, 0);
    const std::int32_t subFolder = folders.AddFolder(sub, KR::String("sub"), lib, 0);
    std::vector<std::int32_t> renumbered;
    folders.OrderAndClose("Other objects", "Missing parts", &renumbered);
    const std::int32_t outside = set_->GetFolderNumber() - 2;
    LM::OtherObjectList& others = *LM::LibrarySetInternals::GetOtherObjects(*set_);

    const std::int32_t inSub = set_->StoreSymbol(dir_.WriteFile("lib/sub/a.txt", "a"), -1, -1);
    EXPECT_EQ(set_->GetSymbolFolderIndex(inSub), renumbered[static_cast<std::size_t>(subFolder)]);
    EXPECT_EQ(others.GetCount(), 0);

    const IO::Location loose = WritePlain("loose.txt");
    const std::int32_t outsideRecord = set_->StoreSymbol(loose, -1, -1);
    EXPECT_EQ(set_->GetSymbolFolderIndex(outsideRecord), outside);
    ASSERT_EQ(others.GetCount(), 1);
    EXPECT_EQ(others.Get(0)->location, loose);

    // With the LAN cache in use, a file inside a library that is not
    // permanent is not an other object; inside a permanent one it is.
    dir_.MakeFolder("cached");
    ASSERT_EQ(set_->AddActiveLibrary(dir_.Loc("cached"), LM::NotPermanent, false, false), 0);
    ASSERT_EQ(set_->SetLanCacheLocation(dir_.MakeFolder("lancache")), 0);
    ASSERT_EQ(set_->SetUseLanCache(true), 0);
    const IO::Location cached = dir_.WriteFile("cached/b.txt", "b");
    EXPECT_EQ(set_->GetSymbolFolderIndex(set_->StoreSymbol(cached, -1, -1)), outside);
    EXPECT_EQ(others.GetCount(), 1);
    dir_.MakeFolder("fixed");
    set_->AddActiveLibrary(dir_.Loc("fixed"), LM::Permanent, false, false);
    set_->StoreSymbol(dir_.WriteFile("fixed/c.txt", "c"), -1, -1);
    EXPECT_EQ(others.GetCount(), 2);
    ExpectConsistent();
}

TEST_F(Storing, OverLongNamesAskTheHandler)
{
    const std::string name31(27, 'n'), name32(28, 'n'), name255(251, 'n');
    EXPECT_GE(set_->StoreSymbol(WritePlain(name31 + ".txt"), 0, -1), 0);
    EXPECT_TRUE(handler_.asked.empty());

    handler_.answer = 1;
    const IO::Location location32 = WritePlain(name32 + ".txt");
    EXPECT_EQ(set_->StoreSymbol(location32, 0, -1), -1);
    EXPECT_EQ(set_->StoreSymbol(WritePlain(name255 + ".txt"), 0, -1), -1);
    ASSERT_EQ(handler_.asked.size(), 2u);
    EXPECT_EQ(handler_.asked[0], name32 + ".txt");
    EXPECT_EQ(set_->GetSymbolNumber(), 1);

    handler_.answer = 0;
    const std::int32_t kept = set_->StoreSymbol(location32, 0, -1);
    ASSERT_GE(kept, 0);
    EXPECT_EQ(DocumentName(kept), name32.substr(0, 28));  // the extension goes first
    const std::int32_t longest = set_->StoreSymbol(WritePlain(name255 + ".txt"), 0, -1);
    EXPECT_EQ(DocumentName(longest), name255.substr(0, 31));
    FinishEnumeration();
    ExpectConsistent();
}

// Input that is not a part file, or one that breaks while it is read: the
// result is the one stated for each, and the table stays consistent. Runs
// both while enumerating and after.
TEST_F(Storing, BadLocations)
{
    for (const bool enumerated : {false, true}) {
        SCOPED_TRACE(enumerated ? "enumerated" : "enumerating");
        set_->SetEnumerated(false);
        if (enumerated)
            FinishEnumeration();
        const std::string tag = enumerated ? "e" : "n";
        const std::int32_t before = set_->GetSymbolNumber();

        EXPECT_EQ(set_->StoreSymbol(IO::Location(), 0, -1), -1);
        EXPECT_EQ(set_->StoreSymbol(WritePart("._Door" + tag + ".gsm", "Door", MakeUnID(50, 1)), 0, -1), -1);
        EXPECT_EQ(set_->StoreSymbol(dir_.MakeFolder("Folder" + tag), 0, -1), -1);
        EXPECT_EQ(set_->GetSymbolNumber(), before);
        ExpectConsistent();

        // Locations whose type is storable but whose file cannot be read:
        // the record is stored without part data read from the file.
        const IO::Location missing = PathOf("Missing" + tag + ".gsm");
        const IO::Location folderLikePart = dir_.MakeFolder("Box" + tag + ".gsm");
        const IO::Location vanishing = WriteDerivedPart("Gone" + tag + ".gsm", "Gone", MakeUnID(51, 1), {});
        const IO::Location truncated = WriteDerivedPart("Cut" + tag + ".gsm", "Cut", MakeUnID(52, 1), {});
        std::filesystem::resize_file(dir_ / ("Cut" + tag + ".gsm"), 40);
        for (const IO::Location& location : {missing, folderLikePart, truncated}) {
            const std::int32_t i = set_->StoreSymbol(location, 0, -1);
            ASSERT_GE(i, before) << location.GetText();
            EXPECT_EQ(set_->GetSymbolFile(i), nullptr);
            EXPECT_EQ(PathIdOf(i), 0u);
            ExpectConsistent();
        }
        {
            // The file disappears after its type was taken from its name.
            TestSupport::FaultPlatform faults;
            faults.FailPath(dir_ / ("Gone" + tag + ".gsm"), ENOENT);
            const std::int32_t i = set_->StoreSymbol(vanishing, 0, -1);
            ASSERT_GE(i, before);
            EXPECT_EQ(set_->GetSymbolFile(i), nullptr);
            EXPECT_EQ(DocumentName(i), "Gone" + tag);
        }
        ExpectConsistent();
    }
}

TEST_F(Storing, DamagedAncestrySections)
{
    const KR::UnID own = MakeUnID(60, 1), parent = MakeUnID(61, 1);
    // A count of ancestors that the section is too short for: the section
    // is not taken and the part stands alone.
    std::string tooShort(32, '\0');
    tooShort[4] = 5;  // little-endian count
    const std::int32_t a = set_->StoreSymbol(WritePartWithSection("Short.gsm", "Short", own, tooShort), 0, -1);
    ASSERT_GE(a, 0);
    EXPECT_EQ(PathNodes(a), std::vector<KR::UnID>{own});
    // An ancestry that names the part itself is cut before it.
    const KR::UnID loop = MakeUnID(62, 1);
    const std::int32_t b =
        set_->StoreSymbol(WriteDerivedPart("Loop.gsm", "Loop", loop, {parent, loop, MakeUnID(63, 1)}), 0, -1);
    EXPECT_EQ(PathNodes(b), (std::vector<KR::UnID>{parent, loop}));
    FinishEnumeration();
    ExpectConsistent();
}

TEST_F(Storing, Placeholders)
{
    LM::AncestryInfo ancestry;
    ancestry.Append(MakeUnID(70, 1));
    ancestry.MarkAsTemplate();
    const KR::UnID id = MakeUnID(71, 1);
    const std::int32_t first = set_->StoreDummySymbol("Ghost", id, types.part, ancestry);
    ASSERT_EQ(first, 0);
    EXPECT_EQ(set_->GetSymbolFolderIndex(first), set_->GetFolderNumber() - 1);
    EXPECT_FALSE(set_->IsSymbolValid(first));
    EXPECT_TRUE(set_->IsSymbolTemplate(first));
    EXPECT_EQ(PathNodes(first), (std::vector<KR::UnID>{MakeUnID(70, 1), id}));
    // Types that are not storable are refused in either mode.
    EXPECT_EQ(set_->StoreDummySymbol("Odd", id, types.group, ancestry), -1);
    // During enumeration the same placeholder is appended again.
    EXPECT_EQ(set_->StoreDummySymbol("Ghost", id, types.part, ancestry), 1);
    FinishEnumeration();
    ExpectConsistent();

    EXPECT_EQ(set_->StoreDummySymbol("Ghost", id, types.part, LM::AncestryInfo()), first);
    EXPECT_EQ(PathNodes(first), std::vector<KR::UnID>{id});
    EXPECT_FALSE(set_->IsSymbolTemplate(first));
    EXPECT_EQ(set_->SearchDummySymbol(id, "Ghost"), first);
    EXPECT_EQ(set_->StoreDummySymbol("Odd", id, types.group, ancestry), -1);
    EXPECT_EQ(set_->GetSymbolNumber(), 2);
    ExpectConsistent();

    // A script placeholder holds no path: found again, it cannot be renewed.
    const std::int32_t script = set_->StoreDummySymbol("Macro", MakeUnID(72, 1), types.script, ancestry);
    ASSERT_GE(script, 0);
    KR::DebugCapture capture;
    EXPECT_EQ(set_->StoreDummySymbol("Macro", MakeUnID(72, 1), types.script, ancestry), -1);
    EXPECT_NE(capture.GetText().find(IllegalPathIndex), std::string::npos);
    ExpectConsistent();
}

TEST_F(Storing, PlaceholderNamesAreCutAndFoundAgain)
{
    FinishEnumeration();
    const std::string name(40, 'g');
    const KR::UnID id = MakeUnID(80, 1);
    const std::int32_t i = set_->StoreDummySymbol(name.c_str(), id, types.part, LM::AncestryInfo());
    ASSERT_GE(i, 0);
    EXPECT_EQ(DocumentName(i), name.substr(0, 31));
    EXPECT_EQ(set_->StoreDummySymbol(name.c_str(), id, types.part, LM::AncestryInfo()), i);
    EXPECT_EQ(set_->GetSymbolNumber(), 1);
    // Without a name the placeholder of this UnID is renewed, whatever its name.
    EXPECT_EQ(set_->StoreDummySymbol(nullptr, id, types.part, LM::AncestryInfo()), i);
    EXPECT_EQ(DocumentName(i), "");
    EXPECT_EQ(set_->GetSymbolNumber(), 1);
    ExpectConsistent();
}

// Random placeholders and part files, new and stored again, with names and
// UnIDs that often clash: after every store the indexes are a permutation
// in key order (so equal, key by key, to a fresh sort), the searches by name
// and UnID land on a record with that key, and every path in the hierarchy
// ends in its part's own UnID.
TEST_F(Storing, RandomStoresKeepIndexesInKeyOrder)
{
    FinishEnumeration();
    std::mt19937 random(1234);
    std::vector<IO::Location> files;
    for (int step = 0; step < 120; ++step) {
        const std::string name = "P" + std::to_string(random() % 12);
        const KR::UnID id = MakeUnID(100 + random() % 10, 1 + random() % 2);
        std::vector<KR::UnID> ancestors;
        // Ancestors come from their own pool: an ancestry that names a
        // revision of the part itself is cut when the hierarchy is rebuilt.
        for (std::uint32_t k = random() % 3; k > 0; --k)
            ancestors.push_back(MakeUnID(200 + random() % 6, 1));
        std::int32_t i = -1;
        switch (random() % 3) {
        case 0: {
            LM::AncestryInfo ancestry;
            for (const KR::UnID& a : ancestors)
                ancestry.Append(a);
            i = set_->StoreDummySymbol(name.c_str(), id, random() % 4 == 0 ? types.script : types.part, ancestry);
            break;
        }
        case 1:
            files.push_back(WriteDerivedPart("F" + std::to_string(step) + ".gsm", name, id, ancestors));
            i = set_->StoreSymbol(files.back(), 0, -1);
            break;
        default:
            if (!files.empty())
                i = set_->StoreSymbol(files[random() % files.size()], 0, -1);
            break;
        }
        SCOPED_TRACE("step " + std::to_string(step));
        ExpectConsistent();
        if (i < 0)
            continue;
        const std::int32_t byName = set_->SearchSymbolDocuName(DocumentName(i).c_str());
        if (byName >= 0) {
            EXPECT_EQ(DocumentName(byName), DocumentName(i));
        }
        KR::UnID own{};
        set_->GetSymbolOwnUnID(i, &own);
        const std::int32_t byId = set_->SearchSymbolByUnID(own, nullptr);
        if (byId >= 0) {
            KR::UnID found{};
            set_->GetSymbolOwnUnID(byId, &found);
            EXPECT_EQ(found, own);
        }
    }
}

}  // namespace
}  // namespace StoreTest
