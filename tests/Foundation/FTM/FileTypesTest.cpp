#include "FTM/FileTypes.hpp"

#include <gtest/gtest.h>

namespace {

using FTM::FileTypeManager;

// The registry is process-wide: every test registers types of its own
// extensions, so the tests do not depend on each other.
FTM::FileType Type(const char* name, std::initializer_list<const char*> extensions)
{
    FTM::FileType type(name);
    for (const char* e : extensions)
        EXPECT_EQ(type.AddExtension(e), KR::NoError) << e;
    return type;
}

IO::Location At(const char* fileName)
{
    return IO::Location(std::string("/library/folder/") + fileName);
}

TEST(FileType, ExtensionsAreKeptInLowerCaseOnceAndComparedWithoutCase)
{
    FTM::FileType type("Part");
    for (const char* e : {"GSM", "gsm", "Lpf"})
        ASSERT_EQ(type.AddExtension(e), KR::NoError);
    EXPECT_EQ(type.GetExtensions(), (std::vector<std::string>{"gsm", "lpf"}));
    EXPECT_TRUE(type.IsExtensionIncluded("gSm"));
    EXPECT_FALSE(type.IsExtensionIncluded("gs"));
    for (const char* bad : {"", ".gsm", "a/b"})
        EXPECT_EQ(type.AddExtension(bad), FTM::ErrBadExtension) << bad;
}

TEST(FileTypeManager, TypesAndGroupsGetIdsTypesOfFilesAndSearches)
{
    const FTM::TypeID a = FileTypeManager::AddType(Type("A", {"ida"}));
    const FTM::TypeID b = FileTypeManager::AddType(Type("B", {"idb"}));
    EXPECT_EQ(b, a + 1);
    const FTM::GroupID g = FileTypeManager::AddGroup("G");
    EXPECT_EQ(FileTypeManager::AddGroup("H", g), g - 1);
    EXPECT_LE(g, -2);
    // Into a group that does not exist nothing is registered.
    EXPECT_EQ(FileTypeManager::AddType(Type("X", {"idx"}), -9999), FTM::UnknownType);
    FTM::FileType copy;
    EXPECT_EQ(FileTypeManager::GetType(g, &copy), FTM::ErrUnknownID);

    // A file's type is judged by its extension: the first type registered
    // with it, searched in a group and the groups nested in it.
    const FTM::GroupID outer = FileTypeManager::AddGroup("Outer");
    const FTM::GroupID inner = FileTypeManager::AddGroup("Inner", outer);
    const FTM::GroupID other = FileTypeManager::AddGroup("Other");
    const FTM::TypeID deep = FileTypeManager::AddType(Type("Deep", {"gdeep", "gshared"}), inner);
    const FTM::TypeID side = FileTypeManager::AddType(Type("Side", {"gside", "gshared"}), other);

    EXPECT_EQ(FileTypeManager::GetTypeOf(At("Wall.GDEEP")), deep);
    EXPECT_EQ(FileTypeManager::GetTypeOf(At("Wall.gdeep.bak")), FTM::UnknownType);
    EXPECT_EQ(FileTypeManager::GetTypeOf(At(".gdeep")), FTM::UnknownType);  // a hidden name, no extension
    EXPECT_EQ(FileTypeManager::GetTypeOf(At("a.gshared")), deep);
    EXPECT_EQ(FileTypeManager::GetTypeOf(At("a.gshared"), other), side);
    EXPECT_EQ(FileTypeManager::GetTypeOf(At("a.gside"), outer), FTM::UnknownType);
    EXPECT_FALSE(FileTypeManager::IsTypeInGroup(deep, other));

    ASSERT_EQ(FileTypeManager::AddTypeToGroup(side, inner), KR::NoError);
    EXPECT_TRUE(FileTypeManager::IsTypeInGroup(side, outer));
    EXPECT_EQ(FileTypeManager::AddTypeToGroup(9999, inner), FTM::ErrUnknownID);

    EXPECT_FALSE(FileTypeManager::Match(At("a.gside"), deep));
    EXPECT_TRUE(FileTypeManager::Match(At("a.gdeep"), outer));
    // A file of no registered type is of UnknownType and in no group.
    EXPECT_TRUE(FileTypeManager::Match(At("a.mnothing"), FTM::UnknownType));
    EXPECT_FALSE(FileTypeManager::Match(At("a.mnothing"), FTM::RootGroup));

    // A search finds the first type with every extension asked for.
    const FTM::GroupID group = FileTypeManager::AddGroup("Search");
    const FTM::TypeID both = FileTypeManager::AddType(Type("Both", {"sa", "sb"}));
    const FTM::TypeID grouped = FileTypeManager::AddType(Type("Grouped", {"sa", "sb", "sc"}), group);

    EXPECT_EQ(FileTypeManager::SearchForType(Type("p", {"SA", "sb"}), FTM::RootGroup), both);
    EXPECT_EQ(FileTypeManager::SearchForType(Type("p", {"sa"}), group), grouped);
    EXPECT_EQ(FileTypeManager::SearchForType(Type("p", {"sa", "sd"}), FTM::RootGroup), FTM::UnknownType);
    EXPECT_EQ(FileTypeManager::SearchForType(FTM::FileType("empty"), FTM::RootGroup), FTM::UnknownType);
}

}  // namespace
