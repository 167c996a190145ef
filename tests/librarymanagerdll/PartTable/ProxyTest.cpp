// Proxies from the type hierarchy, merging a parent's parameters into a
// part, and releasing unmerged parameter sections.
#include "PartTableTestSupport.hpp"

#include "AncestryHierarchy.hpp"
#include "KR/DebugChannel.hpp"
#include "KR/Memory.hpp"
#include "PSC/Parameters.hpp"
#include "Support/Handles.hpp"

namespace PartTableTest {
namespace {

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
            EXPECT_EQ(writer.AddSection(PSC::ParameterSectionType, 0, LPF::SectionDescriptor{}, bytes.data(), bytes.size()), 0);
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
