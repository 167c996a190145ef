// Helpers of the storing tests: a set that stores text files too, part
// files with an ancestry section, and a check that the table, its indexes
// and the hierarchy agree.
#pragma once

#include "PartTableTestSupport.hpp"

#include "AncestryHierarchy.hpp"
#include "AncestryInfo.hpp"
#include "KR/Memory.hpp"
#include "SectionTypes.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace StoreTest {

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
        char** section = info.GetAncestrySection();
        EXPECT_NE(section, nullptr);
        const std::string bytes(*section, KR::bmManager.GetHandleSize(section));
        KR::bmManager.KillHandle(section);
        return WritePartWithSection(fileName, documentName, id, bytes);
    }

    IO::Location WritePartWithSection(const std::string& fileName, const std::string& documentName,
                                      const KR::UnID& id, const std::string& ancestrySection) const
    {
        LPF::PartFileWriter writer(LPF::PartKind::Symbol);
        writer.SetOwnUnID(id);
        EXPECT_EQ(writer.SetDocumentName(documentName), 0);
        EXPECT_EQ(writer.AddSection(LM::AncestrySectionType, 0, LPF::SectionDescriptor{}, ancestrySection.data(),
                                    ancestrySection.size()),
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

    std::string DocumentName(std::int32_t i)
    {
        char name[LM::DocumentNameSize] = {};
        EXPECT_EQ(set_->GetSymbolDocumentName(i, name), 0);
        return name;
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
        for (const std::vector<std::uint32_t>* index : {&table.GetNameIndex(), &table.GetUnIDIndex()}) {
            if (index->empty() && !set_->IsEnumerated())
                continue;
            ASSERT_EQ(index->size(), static_cast<std::size_t>(n));
            std::vector<std::uint32_t> sorted(*index);
            std::sort(sorted.begin(), sorted.end());
            for (std::int32_t k = 0; k < n; ++k)
                ASSERT_EQ(sorted[static_cast<std::size_t>(k)], static_cast<std::uint32_t>(k));
        }
        const std::vector<std::uint32_t>& names = table.GetNameIndex();
        for (std::size_t k = 1; k < names.size(); ++k)
            EXPECT_LE(LM::CompareDocumentNames(table.Get(names[k - 1])->documentName, table.Get(names[k])->documentName),
                      0);
        const std::vector<std::uint32_t>& ids = table.GetUnIDIndex();
        for (std::size_t k = 1; k < ids.size(); ++k) {
            const KR::UnID& a = LM::GetKeyUnID(*table.Get(ids[k - 1]));
            const KR::UnID& b = LM::GetKeyUnID(*table.Get(ids[k]));
            const int main = KR::guidManager.Compare(a.mainGuid, b.mainGuid);
            EXPECT_TRUE(main < 0 || (main == 0 && KR::guidManager.Compare(a.revGuid, b.revGuid) <= 0));
        }

        for (std::int32_t i = 0; i < n; ++i) {
            const LM::LibElement* record = table.Get(i);
            const LM::SymbolData* data = record->GetSymbolData();
            EXPECT_GE(record->folderIndex, -1);
            EXPECT_LT(record->folderIndex, set_->GetFolderNumber());
            const std::uint32_t pathId = data != nullptr ? data->ancestryId : 0;
            if (record->fileType != types.part) {
                EXPECT_EQ(pathId, 0u) << "record " << i;
                continue;
            }
            if (pathId == 0)
                continue;
            const std::uint32_t length = Tree().GetPathLength(pathId);
            ASSERT_GE(length, 1u) << "record " << i;
            KR::UnID last{};
            Tree().GetLastPathNode(pathId, &last);
            // Rebuilding may move a missing part below another revision of
            // itself, so only the main GUID is sure to be the part's own.
            EXPECT_TRUE(KR::guidManager.IsEqual(last.mainGuid, data->GetOwnUnID().mainGuid)) << "record " << i;
        }
        if (!set_->IsEnumerated())
            return;
        for (std::int32_t i = 0; i < n; ++i) {
            const std::int32_t proxy = set_->GetSymbolProxy(i);
            LM::LibrarySetInternals::DetermineProxy(*set_, i);
            EXPECT_EQ(set_->GetSymbolProxy(i), proxy) << "record " << i;
        }
    }
};

}  // namespace StoreTest
