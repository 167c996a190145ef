// Storing parts and placeholders, during and after enumeration, and what
// bad input leaves behind. After each step the table, its indexes and the
// type hierarchy are checked against each other.
#include "PartTableTestSupport.hpp"

#include "AncestryHierarchy.hpp"
#include "AncestryInfo.hpp"
#include "KR/Memory.hpp"
#include "LibrarySet/OtherObjectList.hpp"
#include "PartTable/PscBinCodesContainer.hpp"
#include "SectionTypes.hpp"
#include "Support/FaultPlatform.hpp"
#include "Support/Handles.hpp"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace StoreTest {
namespace {

using PartTableTest::MakeUnID;

class StoreFixture : public PartTableTest::LibrarySetFixture {
protected:
    void SetUp() override
    {
        extraStorable_ = {types.text};
        LibrarySetFixture::SetUp();
    }

    LM::AncestryHierarchy& Tree() { return *LM::LibrarySetInternals::GetTypeHierarchy(*set_); }
    std::uint32_t PathIdOf(std::int32_t i) { return LM::LibrarySetInternals::GetSymbolAncestryId(*set_, i); }

    // The end of an enumeration as far as storing cares: indexes built and
    // the hierarchy rebuilt, then the set counts as enumerated.
    void FinishEnumeration()
    {
        Table().SortIndexes();
        set_->RebuildTypeHierarchy(false);
        set_->SetEnumerated(true);
    }

    // A part file of the first kind with an ancestry section.
    IO::Location WriteDerivedPart(const std::string& fileName, const std::string& documentName, const KR::UnID& id,
                                  const std::vector<KR::UnID>& ancestors, bool isTemplate = false) const
    {
        LM::AncestryInfo info;
        for (const KR::UnID& a : ancestors)
            info.Append(a);
        if (isTemplate)
            info.MarkAsTemplate();
        const std::string section = TestSupport::OwnedHandle(info.GetAncestrySection()).Bytes();
        LPF::PartFileWriter writer(LPF::PartKind::Symbol);
        writer.SetOwnUnID(id);
        EXPECT_EQ(writer.SetDocumentName(documentName), 0);
        EXPECT_EQ(writer.AddSection(LM::AncestrySectionType, 0, LPF::SectionDescriptor{}, section.data(), section.size()),
                  0);
        const IO::Location location = PathOf(fileName);
        EXPECT_EQ(writer.WriteTo(location), 0);
        return location;
    }

    // The path the hierarchy holds for record `i`, root-most first.
    std::vector<KR::UnID> PathNodes(std::int32_t i)
    {
        const std::uint32_t id = PathIdOf(i);
        std::vector<KR::UnID> path(Tree().GetPathLength(id));
        Tree().GetPath(id, path.data());
        return path;
    }

    // The table, its indexes and the hierarchy agree with each other:
    //  - once built, each index holds every record exactly once and is in
    //    its order (names, then key UnIDs);
    //  - a record of the first part type holds a live path that ends in its
    //    own main GUID, and no record of another type holds one;
    //  - every record's folder is a folder of the set (or -1 while the set
    //    has no closing folders);
    //  - once enumerated, every part record's proxy is what determining it
    //    again gives.
    void ExpectConsistent()
    {
        SCOPED_TRACE("consistency");
        LM::PartTable& table = Table();
        const std::int32_t n = table.GetCount();
        const auto key = [&](std::uint32_t i) -> const KR::UnID& { return LM::GetKeyUnID(*table.Get(i)); };
        const std::function<bool(std::uint32_t, std::uint32_t)> byName = [&](std::uint32_t a, std::uint32_t b) {
            return LM::CompareDocumentNames(table.Get(a)->documentName, table.Get(b)->documentName) <= 0;
        };
        const std::function<bool(std::uint32_t, std::uint32_t)> byUnID = [&](std::uint32_t a, std::uint32_t b) {
            const int main = KR::guidManager.Compare(key(a).mainGuid, key(b).mainGuid);
            return main < 0 || (main == 0 && KR::guidManager.Compare(key(a).revGuid, key(b).revGuid) <= 0);
        };
        std::vector<std::uint32_t> all(static_cast<std::size_t>(n));
        std::iota(all.begin(), all.end(), 0u);
        for (const auto& [index, inOrder] :
             {std::pair{&table.GetNameIndex(), byName}, {&table.GetUnIDIndex(), byUnID}}) {
            if (index->empty() && !set_->IsEnumerated())
                continue;
            std::vector<std::uint32_t> sorted(*index);
            std::sort(sorted.begin(), sorted.end());
            ASSERT_EQ(sorted, all);
            for (std::size_t k = 1; k < index->size(); ++k)
                EXPECT_TRUE(inOrder((*index)[k - 1], (*index)[k])) << k;
        }
        for (std::int32_t i = 0; i < n; ++i) {
            SCOPED_TRACE(testing::Message() << "record " << i);
            if (set_->IsEnumerated()) {
                const std::int32_t proxy = set_->GetSymbolProxy(i);
                LM::LibrarySetInternals::DetermineProxy(*set_, i);
                EXPECT_EQ(set_->GetSymbolProxy(i), proxy);
            }
            const LM::LibElement* record = table.Get(i);
            EXPECT_TRUE(record->folderIndex >= -1 && record->folderIndex < set_->GetFolderNumber());
            const std::uint32_t pathId = record->GetSymbolData() != nullptr ? record->GetSymbolData()->ancestryId : 0;
            if (record->fileType != types.part || pathId == 0) {
                EXPECT_EQ(pathId, 0u);
                continue;
            }
            ASSERT_GE(Tree().GetPathLength(pathId), 1u);
            KR::UnID last{};
            Tree().GetLastPathNode(pathId, &last);
            // Rebuilding may move a missing part below another revision of
            // itself, so only the main GUID is sure to be the part's own.
            EXPECT_TRUE(KR::guidManager.IsEqual(last.mainGuid, record->GetSymbolData()->GetOwnUnID().mainGuid));
        }
    }
};

using Storing = StoreFixture;

TEST_F(Storing, ReStoringDropsTheCompiledCodes)
{
    const IO::Location location = WriteDerivedPart("Lamp.gsm", "Lamp", MakeUnID(20, 1), {MakeUnID(21, 1)});
    const std::int32_t i = set_->StoreSymbol(location, 0, -1);
    FinishEnumeration();
    LM::PscBinCodesContainer* container = LM::LibrarySetInternals::GetScriptCodeContainer(*set_);
    TestSupport::OwnedHandle code("code");
    ASSERT_EQ(set_->SetSymbolPscBinCode(i, 2, code.h), 0);
    const std::int32_t item = Table().Get(i)->GetSymbolData()->codeIndices[1];
    ASSERT_NE(container->GetItem(item).code, nullptr);

    EXPECT_EQ(set_->StoreSymbol(location, 0, -1), i);
    EXPECT_EQ(container->GetItem(item).code, nullptr);
    for (std::int32_t index : Table().Get(i)->GetSymbolData()->codeIndices)
        EXPECT_EQ(index, LM::SymbolData::NoCode);
    ExpectConsistent();
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
    EXPECT_EQ(set_->GetSymbolFolderIndex(set_->StoreSymbol(loose, -1, -1)), outside);
    ASSERT_EQ(others.GetCount(), 1);
    EXPECT_EQ(others.Get(0)->location, loose);

    // With the LAN cache in use, a file inside a library that is not
    // permanent is not an other object; inside a permanent one it is.
    ASSERT_EQ(set_->AddActiveLibrary(dir_.MakeFolder("cached"), LM::NotPermanent, false, false), 0);
    ASSERT_EQ(set_->SetLanCacheLocation(dir_.MakeFolder("lancache")), 0);
    ASSERT_EQ(set_->SetUseLanCache(true), 0);
    EXPECT_EQ(set_->GetSymbolFolderIndex(set_->StoreSymbol(dir_.WriteFile("cached/b.txt", "b"), -1, -1)), outside);
    EXPECT_EQ(others.GetCount(), 1);
    set_->AddActiveLibrary(dir_.MakeFolder("fixed"), LM::Permanent, false, false);
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
    EXPECT_EQ(handler_.asked, std::vector<std::string>{name32 + ".txt"});
    EXPECT_EQ(set_->GetSymbolNumber(), 1);

    handler_.answer = 0;
    EXPECT_EQ(DocumentName(set_->StoreSymbol(location32, 0, -1)), name32);  // the extension goes first
    EXPECT_EQ(DocumentName(set_->StoreSymbol(WritePlain(name255 + ".txt"), 0, -1)), name255.substr(0, 31));
    FinishEnumeration();
    ExpectConsistent();
}

// One location per outcome, while enumerating and after; the fuzz replay
// of the part file reader covers the other damaged files.
TEST_F(Storing, BadLocations)
{
    for (const bool enumerated : {false, true}) {
        SCOPED_TRACE(enumerated ? "enumerated" : "enumerating");
        set_->SetEnumerated(false);
        if (enumerated)
            FinishEnumeration();
        const std::string tag = enumerated ? "e" : "n";
        const std::int32_t before = set_->GetSymbolNumber();
        // Refused: nothing is stored.
        EXPECT_EQ(set_->StoreSymbol(IO::Location(), 0, -1), -1);
        EXPECT_EQ(set_->StoreSymbol(WritePart("._Door" + tag + ".gsm", "Door", MakeUnID(50, 1)), 0, -1), -1);
        EXPECT_EQ(set_->StoreSymbol(dir_.MakeFolder("Folder" + tag), 0, -1), -1);
        EXPECT_EQ(set_->GetSymbolNumber(), before);

        // A storable type whose file cannot be read (missing, cut, or gone
        // after its type was taken from its name): stored without part data
        // read from the file, under the fallback name.
        WriteDerivedPart("Cut" + tag + ".gsm", "Cut", MakeUnID(52, 1), {});
        std::filesystem::resize_file(dir_ / ("Cut" + tag + ".gsm"), 40);
        const IO::Location gone = WriteDerivedPart("Gone" + tag + ".gsm", "Gone", MakeUnID(51, 1), {});
        TestSupport::FaultPlatform faults;
        faults.FailPath(dir_ / ("Gone" + tag + ".gsm"), ENOENT);
        dir_.MakeFolder("Box" + tag + ".gsm");  // a folder named like a part file
        for (const std::string name : {"Missing", "Cut", "Gone", "Box"}) {
            const std::int32_t i = set_->StoreSymbol(name == "Gone" ? gone : PathOf(name + tag + ".gsm"), 0, -1);
            ASSERT_GE(i, before) << name;
            EXPECT_EQ(set_->GetSymbolFile(i), nullptr) << name;
            EXPECT_EQ(PathIdOf(i), 0u) << name;
            EXPECT_EQ(DocumentName(i), name + tag);
        }
        ExpectConsistent();
    }
}

// Random placeholders and part files, new and stored again, with names and
// UnIDs that often clash, first while enumerating (each store appends) and
// then after it (a store renews the record of its location or UnID): after
// every store the table, its indexes and the hierarchy agree.
TEST_F(Storing, RandomStoresKeepIndexesInKeyOrder)
{
    std::mt19937 random(1234);
    std::vector<IO::Location> files;
    for (int step = 0; step < 160; ++step) {
        if (step == 40)
            FinishEnumeration();
        const std::string name = "P" + std::to_string(random() % 12);
        const KR::UnID id = MakeUnID(100 + random() % 10, 1 + random() % 2);
        std::vector<KR::UnID> ancestors;
        // Ancestors come from their own pool: an ancestry that names a
        // revision of the part itself is cut when the hierarchy is rebuilt.
        for (std::uint32_t k = random() % 3; k > 0; --k)
            ancestors.push_back(MakeUnID(200 + random() % 6, 1));
        switch (random() % 3) {
        case 0: {
            LM::AncestryInfo ancestry;
            for (const KR::UnID& a : ancestors)
                ancestry.Append(a);
            set_->StoreDummySymbol(name.c_str(), id, random() % 4 == 0 ? types.script : types.part, ancestry);
            break;
        }
        case 1:
            files.push_back(WriteDerivedPart("F" + std::to_string(step) + ".gsm", name, id, ancestors));
            set_->StoreSymbol(files.back(), 0, -1);
            break;
        default:
            // Stored again, now and then through the index of its record.
            if (!files.empty()) {
                const IO::Location& file = files[random() % files.size()];
                const std::int32_t known = random() % 2 == 0 ? -1 : set_->SearchSymbol(file);
                const std::int32_t stored = set_->StoreSymbol(file, 0, known);
                EXPECT_TRUE(known < 0 || !set_->IsEnumerated() || stored == known) << known;
            }
            break;
        }
        SCOPED_TRACE("step " + std::to_string(step));
        ExpectConsistent();
    }
}

}  // namespace
}  // namespace StoreTest
