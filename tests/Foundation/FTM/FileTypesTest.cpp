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

TEST(FileTypeManager, TypesAndGroupsGetIdsOfTheirOwnRange)
{
    const FTM::TypeID a = FileTypeManager::AddType(Type("A", {"ida"}));
    const FTM::TypeID b = FileTypeManager::AddType(Type("B", {"idb"}));
    EXPECT_GE(a, 1);
    EXPECT_EQ(b, a + 1);
    const FTM::GroupID g = FileTypeManager::AddGroup("G");
    const FTM::GroupID h = FileTypeManager::AddGroup("H", g);
    EXPECT_LE(g, -2);
    EXPECT_EQ(h, g - 1);
    // Into a group that does not exist nothing is registered.
    EXPECT_EQ(FileTypeManager::AddType(Type("X", {"idx"}), -9999), FTM::UnknownType);

    FTM::FileType copy;
    EXPECT_EQ(FileTypeManager::GetType(b + 1000, &copy), FTM::ErrUnknownID);
    EXPECT_EQ(FileTypeManager::GetType(g, &copy), FTM::ErrUnknownID);
}

TEST(FileTypeManager, TypeOfAFileIsJudgedByItsExtension)
{
    const FTM::TypeID part = FileTypeManager::AddType(Type("Part", {"tpart", "tprt"}));
    EXPECT_EQ(FileTypeManager::GetTypeOf(At("Wall.TPRT")), part);
    EXPECT_EQ(FileTypeManager::GetTypeOf(At("Wall.tpart.bak")), FTM::UnknownType);
    EXPECT_EQ(FileTypeManager::GetTypeOf(At(".tpart")), FTM::UnknownType);  // a hidden name, no extension

    // Of two types with the same extension the first registered wins.
    const FTM::TypeID later = FileTypeManager::AddType(Type("Later", {"tpart", "tlater"}));
    EXPECT_EQ(FileTypeManager::GetTypeOf(At("x.tpart")), part);
    EXPECT_EQ(FileTypeManager::GetTypeOf(At("x.tlater")), later);
}

TEST(FileTypeManager, GroupsNestAndRestrictTheSearch)
{
    const FTM::GroupID outer = FileTypeManager::AddGroup("Outer");
    const FTM::GroupID inner = FileTypeManager::AddGroup("Inner", outer);
    const FTM::GroupID other = FileTypeManager::AddGroup("Other");
    const FTM::TypeID deep = FileTypeManager::AddType(Type("Deep", {"gdeep", "gshared"}), inner);
    const FTM::TypeID side = FileTypeManager::AddType(Type("Side", {"gside", "gshared"}), other);

    EXPECT_TRUE(FileTypeManager::IsTypeInGroup(deep, outer));
    EXPECT_FALSE(FileTypeManager::IsTypeInGroup(deep, other));

    EXPECT_EQ(FileTypeManager::GetTypeOf(At("a.gshared")), deep);
    EXPECT_EQ(FileTypeManager::GetTypeOf(At("a.gshared"), other), side);
    EXPECT_EQ(FileTypeManager::GetTypeOf(At("a.gside"), outer), FTM::UnknownType);

    ASSERT_EQ(FileTypeManager::AddTypeToGroup(side, inner), KR::NoError);
    EXPECT_TRUE(FileTypeManager::IsTypeInGroup(side, outer));
    EXPECT_EQ(FileTypeManager::GetTypeOf(At("a.gside"), outer), side);
    EXPECT_EQ(FileTypeManager::AddTypeToGroup(9999, inner), FTM::ErrUnknownID);
}

TEST(FileTypeManager, MatchByTypeOrByGroup)
{
    const FTM::GroupID parts = FileTypeManager::AddGroup("Parts");
    const FTM::TypeID symbol = FileTypeManager::AddType(Type("Symbol", {"msym"}), parts);
    FileTypeManager::AddType(Type("Picture", {"mpic"}));

    EXPECT_FALSE(FileTypeManager::Match(At("a.mpic"), symbol));
    EXPECT_TRUE(FileTypeManager::Match(At("a.msym"), parts));
    // A file of no registered type is of UnknownType and in no group.
    EXPECT_TRUE(FileTypeManager::Match(At("a.mnothing"), FTM::UnknownType));
    EXPECT_FALSE(FileTypeManager::Match(At("a.mnothing"), FTM::RootGroup));
}

TEST(FileTypeManager, SearchForTypeFindsTheFirstTypeWithEveryExtension)
{
    const FTM::GroupID group = FileTypeManager::AddGroup("Search");
    const FTM::TypeID both = FileTypeManager::AddType(Type("Both", {"sa", "sb"}));
    const FTM::TypeID grouped = FileTypeManager::AddType(Type("Grouped", {"sa", "sb", "sc"}), group);

    EXPECT_EQ(FileTypeManager::SearchForType(Type("p", {"SA", "sb"}), FTM::RootGroup), both);
    EXPECT_EQ(FileTypeManager::SearchForType(Type("p", {"sa"}), group), grouped);
    EXPECT_EQ(FileTypeManager::SearchForType(Type("p", {"sa", "sd"}), FTM::RootGroup), FTM::UnknownType);
    EXPECT_EQ(FileTypeManager::SearchForType(FTM::FileType("empty"), FTM::RootGroup), FTM::UnknownType);
}

}  // namespace
