// Records of the part table: initialisation from files and as placeholders,
// refreshing, fallback names, the library set's attribute accessors, proxies
// from the type hierarchy, and merging a parent's parameters into a part.
#include "PartTableTestSupport.hpp"

#include "AncestryHierarchy.hpp"
#include "KR/DebugChannel.hpp"
#include "KR/Memory.hpp"
#include "PSC/Parameters.hpp"
#include "Support/Handles.hpp"

#include <chrono>
#include <numeric>
#include <tuple>

namespace PartTableTest {
namespace {

using Records = LibrarySetFixture;

void Touch(const IO::Location& location, int secondsFromNow)
{
    std::filesystem::last_write_time(location.GetText(),
                                     std::filesystem::file_time_type::clock::now() + std::chrono::seconds(secondsFromNow));
}

TEST_F(Records, WhatEachKindOfRecordCarries)
{
    const KR::UnID id = MakeUnID(7, 1);
    const IO::Location door = WritePart("Door.gsm", "Front door", id, true, true);
    const std::string longName(40, 'N');
    struct Row {
        std::int32_t i;
        std::string name;
        bool valid, partData, partFile, scriptFile;
    };
    const Row rows[] = {
        {Table().AppendFromFile(door, 3, types.part, 5), "Front door", true, true, true, false},
        {AddFile(WriteScript("Door.scr", "Door script"), types.script), "Door script", true, true, false, true},
        // An ordinary file: no part data, the fallback name.
        {AddFile(WritePlain("Notes.txt"), types.text), "Notes", true, false, false, false},
        // A missing ordinary file keeps an empty name; its validity follows the location alone.
        {AddFile(PathOf("Gone.txt"), types.text), "", true, false, false, false},
        // A part file that cannot be opened: no file object, the fallback name.
        {AddFile(WritePlain("Broken.gsm", "not a part file"), types.part), "Broken", true, true, false, false},
        {AddFile(IO::Location(), types.part), "", false, true, false, false},
        // Placeholders are invalid and cut long names.
        {Table().AppendPlaceholder(longName.c_str(), MakeUnID(9, 9), 4, types.part, 2), longName.substr(0, 31), false,
         true, false, false},
        {Table().AppendPlaceholder(nullptr, MakeUnID(9, 9), 4, types.text, 0), "", false, false, false, false},
    };
    for (std::int32_t k = 0; k < std::int32_t(std::size(rows)); ++k) {
        const Row& r = rows[k];
        SCOPED_TRACE(k);
        EXPECT_EQ(r.i, k);
        EXPECT_EQ(DocumentName(r.i), r.name);
        EXPECT_EQ(set_->IsSymbolValid(r.i), r.valid);
        EXPECT_EQ(set_->IsLibElementSymbol(r.i), r.partData);
        EXPECT_EQ(set_->GetSymbolFile(r.i) != nullptr, r.partFile);
        EXPECT_EQ(set_->GetScriptFile(r.i) != nullptr, r.scriptFile);
    }

    // What the part file tells, and where it was filed.
    EXPECT_EQ(set_->GetSymbolFolderIndex(0), 3);
    EXPECT_EQ(set_->GetSymbolFlags(0), 5u);
    KR::UnID read{};
    EXPECT_EQ(set_->GetSymbolOwnUnID(0, &read), 0);
    EXPECT_EQ(read, id);
    EXPECT_TRUE(set_->IsSymbolPlaceable(0));
    std::int32_t time = 0;
    set_->GetSymbolFileModTime(2, &time);  // an ordinary file's time is read too
    EXPECT_NE(time, 0);

    // Re-initialising a record as a placeholder drops its file.
    Table().InitPlaceholder(0, "Real", MakeUnID(9, 9), 1, types.part, 0);
    EXPECT_FALSE(set_->IsSymbolValid(0));
    EXPECT_EQ(set_->GetSymbolFile(0), nullptr);
}

TEST_F(Records, FallbackNamesDropOnlyExtensionsOfTheType)
{
    EXPECT_EQ(DocumentName(AddFile(WritePart("Wall.gsm", "", MakeUnID(1, 1)), types.part)), "Wall");
    EXPECT_EQ(DocumentName(AddFile(WritePlain("Wall.xyz"), types.text)), "Wall");
    EXPECT_EQ(DocumentName(AddFile(WritePlain("Wall.abc"), types.text)), "Wall.abc");
    EXPECT_EQ(DocumentName(AddFile(WritePlain("Unknown.xyz"), FTM::UnknownType)), "Unknown.xyz");
    // A group: dropped when a type of the group has the extension.
    EXPECT_EQ(DocumentName(AddFile(WritePlain("Slab.xyz"), types.group)), "Slab");
    EXPECT_EQ(DocumentName(AddFile(WritePlain("Slab.gsm"), types.group)), "Slab.gsm");
}

TEST_F(Records, RefreshReadsOnlyNewerFilesAndKeepsTheStoredTime)
{
    const IO::Location location = WritePart("Beam.gsm", "Beam", MakeUnID(1, 1));
    Touch(location, -100);
    const std::int32_t i = AddFile(location, types.part);
    std::int32_t stored = 0, after = 0;
    set_->GetSymbolFileModTime(i, &stored);
    // Rewritten but not newer: nothing changes.
    WritePart("Beam.gsm", "Girder", MakeUnID(2, 2));
    Touch(location, -200);
    Table().Refresh(i);
    EXPECT_EQ(DocumentName(i), "Beam");

    // Newer: read again, the stored time left as it was.
    Touch(location, 100);
    Table().Refresh(i);
    EXPECT_EQ(DocumentName(i), "Girder");
    KR::VAArray<std::int32_t> hits;  // the main GUID lookup follows the new UnID
    EXPECT_EQ(set_->SearchSymbolByMainUnID(MakeUnID(1, 0), &hits), 0);
    EXPECT_EQ(set_->SearchSymbolByMainUnID(MakeUnID(2, 0), &hits), 1);
    set_->GetSymbolFileModTime(i, &after);
    EXPECT_EQ(after, stored);

    // A newer file without a name gets the fallback name.
    WritePart("Beam.gsm", "", MakeUnID(2, 2));
    Touch(location, 300);
    set_->SetSymbolFileModTime(i, stored);
    Table().Refresh(i);
    EXPECT_EQ(DocumentName(i), "Beam");
}

TEST_F(Records, ScriptBitsFollowTheirScriptTypeRules)
{
    const std::int32_t part = AddFile(WritePart("A.gsm", "A", MakeUnID(1, 1)), types.part);
    const std::int32_t plain = AddFile(WritePlain("B.txt"), types.text);

    // Command words exist for 7, 8, 9, 11 and 12, globals blocks for 1 to 12,
    // each its own; a reset clears the command words and the blocks of 1 to
    // 10. One script type of each kind: the command word, and the first and
    // last words of the globals block (-5: left as the caller filled it),
    // before and after a reset.
    struct Row {
        std::int16_t type;
        std::int32_t command, first, last, commandAfter, firstAfter, lastAfter;
    };
    const Row rows[] = {{0, 0, -5, -5, 0, -5, -5},           {1, 0, 100, 111, 0, 0, 0},
                        {7, 107, 700, 711, 0, 0, 0},          {8, 108, 800, 811, 0, 0, 0},
                        {9, 109, 900, 911, 0, 0, 0},          {11, 111, 1100, 1111, 0, 1100, 1111},
                        {12, 112, 1200, 1211, 0, 1200, 1211}, {13, 0, -5, -5, 0, -5, -5}};
    std::int32_t block[12];
    for (const Row& r : rows) {
        std::iota(std::begin(block), std::end(block), r.type * 100);
        EXPECT_EQ(set_->SetSymbolPscGlobalsBits(part, r.type, block), 0);
        EXPECT_EQ(set_->SetSymbolPscCommandsBits(part, r.type, 100 + r.type), 0);
    }
    for (int reset = 0; reset < 2; ++reset) {
        for (const Row& r : rows) {
            SCOPED_TRACE(testing::Message() << "script type " << r.type << (reset ? " after reset" : ""));
            EXPECT_EQ(set_->GetSymbolPscCommandsBits(part, r.type), reset ? r.commandAfter : r.command);
            std::fill(std::begin(block), std::end(block), -5);
            ASSERT_EQ(set_->GetSymbolPscGlobalsBits(part, r.type, block), 0);
            EXPECT_EQ(block[0], reset ? r.firstAfter : r.first);
            EXPECT_EQ(block[11], reset ? r.lastAfter : r.last);
        }
        EXPECT_EQ(set_->ResetSymbolPscGlobalsBits(part), 0);
    }
    // A record without part data: no command words; a block read gives one zero.
    EXPECT_EQ(set_->SetSymbolPscCommandsBits(plain, 7, 55), 0);
    EXPECT_EQ(set_->GetSymbolPscCommandsBits(plain, 7), 0);
    std::fill(std::begin(block), std::end(block), -5);
    EXPECT_EQ(set_->GetSymbolPscGlobalsBits(plain, 1, block), 0);
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[1], -5);
    EXPECT_EQ(set_->ResetSymbolPscGlobalsBits(plain), 0);
}

TEST_F(Records, ArchivableDependsOnFolderAndLibrary)
{
    const std::int32_t permanent = set_->AddActiveLibrary(PathOf(""), LM::Permanent, false, false);
    const std::int32_t other = set_->AddActiveLibrary(dir_.MakeFolder("other"), LM::NotPermanent, false, false);
    LM::FolderSet* folders = set_->GetFolderSet();
    const std::int32_t fp = folders->AddFolder(PathOf(""), "lib", 0, permanent);
    const std::int32_t fo = folders->AddFolder(PathOf("other"), "other", 0, other);
    std::vector<std::int32_t> map;
    folders->OrderAndClose("Other objects", "Missing parts", &map);
    Table().RenumberFolders(map);
    const std::int32_t n = set_->GetFolderNumber();
    // The part's own flag counts in a permanent library's folder only; the
    // other objects' folder is archivable, the missing parts' folder not.
    const std::tuple<const char*, bool, std::int32_t, bool> rows[] = {
        {"a.gsm", true, map[std::size_t(fp)], true}, {"b.gsm", false, map[std::size_t(fp)], false},
        {"c.gsm", false, map[std::size_t(fo)], true}, {"d.gsm", false, n - 2, true}, {"e.gsm", true, n - 1, false}};
    for (const auto& [file, flag, folder, archivable] : rows) {
        const std::int32_t i = AddFile(WritePart(file, file, MakeUnID(1, 1), false, flag), types.part, folder);
        EXPECT_EQ(set_->IsSymbolArchivable(i), archivable) << file;
    }
}

using LM::LibrarySetInternals;

class Proxies : public LibrarySetFixture {
protected:
    // Gives record `i` the path ancestors..., own UnID.
    void SetPath(std::int32_t i, const std::vector<KR::UnID>& ancestors)
    {
        KR::UnID own{};
        set_->GetSymbolOwnUnID(i, &own);
        const std::uint32_t id = LibrarySetInternals::GetTypeHierarchy(*set_)->AddPath(
            ancestors.data(), static_cast<std::uint32_t>(ancestors.size()), own);
        LibrarySetInternals::SetSymbolAncestryId(*set_, i, id);
    }

    void DetermineAll()
    {
        for (std::int32_t i = 0; i < set_->GetSymbolNumber(); ++i)
            LibrarySetInternals::DetermineProxy(*set_, i);
    }
};

TEST_F(Proxies, NearestPresentAncestorStandsInForAMissingPart)
{
    const KR::UnID root = MakeUnID(1, 1), grand = MakeUnID(2, 1), parent = MakeUnID(3, 1);
    const std::int32_t rootPart = AddFile(WritePart("Root.gsm", "Root", root), types.part);
    const std::int32_t grandPart = AddFile(WritePart("Grand.gsm", "Grand", grand), types.part);
    const std::int32_t missing = Table().AppendPlaceholder("Missing", MakeUnID(4, 1), 0, types.part, 0);
    const std::int32_t orphan = Table().AppendPlaceholder("Orphan", MakeUnID(5, 1), 0, types.part, 0);
    const std::int32_t scriptPlaceholder = Table().AppendPlaceholder("Script", NULLUnID, 0, types.script, 0);
    const std::int32_t plain = AddFile(WritePlain("a.txt"), types.text);
    SetPath(rootPart, {});
    SetPath(grandPart, {root});
    SetPath(missing, {root, grand, parent});
    SetPath(orphan, {MakeUnID(6, 1), MakeUnID(7, 1)});
    Table().BuildIndexes();

    KR::DebugCapture capture;
    DetermineAll();
    EXPECT_EQ(set_->GetSymbolProxy(rootPart), rootPart);
    EXPECT_EQ(set_->GetSymbolProxy(missing), grandPart);  // the parent is not in the table
    EXPECT_EQ(set_->GetSymbolProxy(orphan), orphan);
    // No path: the path tree's refusal is printed and the proxy stays.
    EXPECT_EQ(set_->GetSymbolProxy(scriptPlaceholder), -1);
    EXPECT_NE(capture.GetText().find("Illegal index in Paths<NodeData, Comparision>::"), std::string::npos);
    EXPECT_EQ(set_->GetSymbolProxy(plain), -1);

    // An invalid grandparent does not count; the root does.
    set_->SetSymbolValid(grandPart, false);
    DetermineAll();
    EXPECT_EQ(set_->GetSymbolProxy(missing), rootPart);
}

class Parameters : public LibrarySetFixture {
protected:
    static PSC::Parameter Integer(const char* name, std::int32_t value)
    {
        return {name, PSC::Parameter::Kind::Integer, 0.0, value, false, {}};
    }

    IO::Location WriteWithParameters(const std::string& file, const KR::UnID& id,
                                     const std::vector<PSC::Parameter>& parameters)
    {
        LPF::PartFileWriter writer(LPF::PartKind::Symbol);
        writer.SetOwnUnID(id);
        writer.SetDocumentName(file);
        if (!parameters.empty()) {
            const TestSupport::OwnedHandle section(PSC::WriteParameters(parameters));
            const std::string bytes = section.Bytes();
            EXPECT_EQ(
                writer.AddSection(PSC::ParameterSectionType, 0, LPF::SectionDescriptor{}, bytes.data(), bytes.size()), 0);
        }
        const IO::Location location = PathOf(file + ".gsm");
        EXPECT_EQ(writer.WriteTo(location), 0);
        return location;
    }

    std::vector<std::string> NamesOf(std::int32_t i)
    {
        char** section = nullptr;
        EXPECT_EQ(set_->GetSymbolFile(i)->GetSectionDataRef(PSC::ParameterSectionType, 0, &section), 0);
        std::vector<PSC::Parameter> parameters;
        EXPECT_EQ(PSC::ReadParameters(section, &parameters), 0);
        std::vector<std::string> names;
        for (const PSC::Parameter& p : parameters)
            names.push_back(p.name + "=" + std::to_string(p.integer));
        return names;
    }

    KR::ErrorCode Update(std::int32_t i, std::int32_t parent, bool merge)
    {
        return LibrarySetInternals::UpdateSymbolParameters(*set_, i, parent, merge);
    }
};

TEST_F(Parameters, MergeKeepsOwnValuesOrAddsMissingOnes)
{
    const std::int32_t parent =
        AddFile(WriteWithParameters("Parent", MakeUnID(1, 1), {Integer("a", 1), Integer("b", 2)}), types.part);
    const std::int32_t keep =
        AddFile(WriteWithParameters("Keep", MakeUnID(2, 1), {Integer("c", 7), Integer("a", 5)}), types.part);
    const std::int32_t add =
        AddFile(WriteWithParameters("Add", MakeUnID(3, 1), {Integer("c", 7), Integer("a", 5)}), types.part);
    const std::int32_t bare = AddFile(WriteWithParameters("Bare", MakeUnID(4, 1), {}), types.part);
    const std::int32_t script = AddFile(WriteScript("S.scr", "S"), types.script);

    // Refused without parent parameters or valid parts; nothing changes.
    set_->SetSymbolFlags(keep, 4);
    for (std::int32_t badParent : {bare, std::int32_t{-1}, script})
        EXPECT_EQ(Update(keep, badParent, false), KR::ErrParam) << badParent;
    set_->SetSymbolValid(bare, false);
    EXPECT_EQ(Update(bare, parent, false), KR::ErrParam);
    set_->SetSymbolValid(bare, true);
    EXPECT_EQ(set_->GetSymbolFlags(keep), 4u);
    EXPECT_EQ(NamesOf(keep), (std::vector<std::string>{"c=7", "a=5"}));

    EXPECT_EQ(Update(keep, parent, false), 0);
    EXPECT_EQ(NamesOf(keep), (std::vector<std::string>{"a=5", "b=2", "c=7"}));
    EXPECT_EQ(Update(add, parent, true), 0);
    EXPECT_EQ(NamesOf(add), (std::vector<std::string>{"c=7", "a=5", "b=2"}));
    EXPECT_EQ(Update(bare, parent, true), 0);
    EXPECT_EQ(NamesOf(bare), (std::vector<std::string>{"a=1", "b=2"}));
    for (std::int32_t i : {keep, add, bare})
        EXPECT_EQ(set_->GetSymbolFlags(i) & LM::ParametersMergedFlag, LM::ParametersMergedFlag);
    EXPECT_EQ(set_->GetSymbolFlags(parent), 0u);

    // Sections changed in memory are released only where nothing was merged.
    char** changed = PSC::WriteParameters({Integer("z", 9)});
    ASSERT_EQ(set_->GetSymbolFile(parent)->SetSectionDataRef(PSC::ParameterSectionType, 0, changed), 0);
    Table().ReleaseUnmergedParameterSections();
    EXPECT_EQ(NamesOf(parent), (std::vector<std::string>{"a=1", "b=2"}));
    EXPECT_EQ(NamesOf(keep), (std::vector<std::string>{"a=5", "b=2", "c=7"}));
}

}  // namespace
}  // namespace PartTableTest
