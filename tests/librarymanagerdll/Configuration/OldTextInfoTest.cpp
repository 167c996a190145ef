// The text info block: reading it (the ':' form, stored files, damaged
// blocks), writing it, and what a round trip through it keeps.
#include "ConfigurationTestSupport.hpp"

#include "FTM/FileTypes.hpp"
#include "KR/DebugChannel.hpp"

using namespace LMTest;
using namespace ConfigTest;
using namespace std::string_literals;

namespace {

// Converts `bytes` as a set with the URL cache `urlCache` and the given
// stored files would: the result code and the converted bytes.
std::pair<KR::ErrorCode, std::string> ToCurrent(const std::string& bytes, const std::string& urlCache = "",
                                                const std::vector<std::string>& storedFiles = {})
{
    OwnedHandle in(bytes);
    char** out = nullptr;
    const KR::ErrorCode error =
        LM::Info::ConvertToCurrent(in.h, &out, false, IO::Location(urlCache), [&](const IO::Location& location) {
            return std::find(storedFiles.begin(), storedFiles.end(), location.GetText()) != storedFiles.end();
        });
    OwnedHandle owned(out);
    EXPECT_EQ(bytes, in.Bytes());  // the caller's block is never changed
    return {error, owned.Bytes()};
}

TEST(OldTextConversionTest, EntriesBecomeLibrariesOrStoredFilesInEntryOrder)
{
    struct Row {
        std::string text, urlCache;
        std::vector<std::string> storedFiles;
        BlockBytes expected;
    };
    const Row rows[] = {
        {"Ws\0\0"s, "/cache/url", {}, BlockBytes().Magic().Bool(false).Location("/cache/url").Int32(0).Int32(0).Magic()},
        // The example of the format description.
        {"Ws\0WWC:\\Lib\\A\0WWC:\\Lib\\B\0\0"s, "", {},
         BlockBytes().Magic().Bool(false).Location("").Int32(2).Library(false, false, "C:\\Lib\\A")
             .Library(false, false, "C:\\Lib\\B").Int32(0).Magic()},
        // The LAN cache path is taken as it is, entry paths converted; stored
        // files become other objects with an empty URL.
        {"MS/lan:cache\0WW/z\0WWp:a\0WW/y\0WW/x.gsm\0\0"s, "", {"p\\a", "/x.gsm"},
         BlockBytes().Magic().Bool(true).Location("/lan:cache").Location("").Int32(2).Library(false, false, "/z")
             .Library(false, false, "/y").Int32(2).Location("p\\a").Text("").Location("/x.gsm").Text("").Magic()},
        // 511 characters fit the conversion buffer.
        {"Ms\0WW"s + std::string(511, ':') + "\0\0"s, "", {},
         BlockBytes().Magic().Bool(false).Location("").Int32(1).Library(false, false, std::string(511, '\\'))
             .Int32(0).Magic()},
    };
    for (const Row& row : rows)
        EXPECT_EQ(std::make_pair(KR::NoError, row.expected.Str()), ToCurrent(row.text, row.urlCache, row.storedFiles))
            << row.text;
}

TEST(OldTextConversionTest, DamagedTextBlocksAreRefused)
{
    // Every cut of a valid block lacks the final zero byte or a text's
    // terminator.
    const std::string valid = "WS/lan\0WW/a\0WW/bb\0\0"s;
    ASSERT_EQ(KR::NoError, ToCurrent(valid).first);
    for (std::size_t length = 0; length < valid.size(); ++length)
        EXPECT_EQ(LM::ErrBadIndex, ToCurrent(valid.substr(0, length)).first) << length;
    for (const std::string& bad : {"Ws\0WW/a\0WW\0\0"s,                               // an empty path
                                   "WX\0\0"s,                                         // no version
                                   "Ms\0WW"s + std::string(512, ':') + "\0\0"s})  // too long to convert
        EXPECT_EQ(LM::ErrBadIndex, ToCurrent(bad).first) << bad;
    // Bytes after the final zero are not read.
    EXPECT_EQ(ToCurrent("Ws\0WW/a\0\0"s), ToCurrent("Ws\0WW/a\0\0garbage"s));
}

TEST(OldTextConversionTest, WritingTheTextFormKeepsFolderPathsOnly)
{
    const std::string current = BlockBytes().Magic().Bool(true).Location("/lan").Location("/url").Int32(3)
                                    .Library(true, true, "/lib/A").UrlLibrary(true, false, "http://h/U/")
                                    .Library(false, false, "C:\\Lib\\B").Raw("other objects are not read").Str();
    OwnedHandle in(current);
    char** old = nullptr;
    ASSERT_EQ(KR::NoError, LM::Info::ConvertToOld(in.h, 105, &old));
    OwnedHandle owned(old);
    EXPECT_EQ("WS/lan\0WW/lib/A\0WWC:\\Lib\\B\0\0"s, owned.Bytes());

    old = in.h;  // must be cleared
    EXPECT_EQ(KR::NoError, LM::Info::ConvertToOld(in.h, 150, &old));
    EXPECT_EQ(nullptr, old);
    OwnedHandle big(BlockBytes(true).Magic().Str());
    EXPECT_EQ(LM::ErrBadIndex, LM::Info::ConvertToOld(big.h, 105, &old));
}

class OldTextSetTest : public SetFixture {
protected:
    void SetUp() override
    {
        SetFixture::SetUp();
        static const FTM::TypeID registered = [] {
            FTM::FileType type("Configuration test part");
            type.AddExtension("cfgpart");
            return FTM::FileTypeManager::AddType(type);
        }();
        partType = registered;
    }
    FTM::TypeID partType = FTM::UnknownType;
    KR::DebugCapture quiet;
};

TEST_F(OldTextSetTest, OnlyExistingFilesOfAStorableTypeBecomeOtherObjects)
{
    const IO::Location part = dir.WriteFile("parts/Door.cfgpart", "x");
    const std::string block = "Ws\0WW"s + part.GetText() + "\0WW"s + dir.WriteFile("parts/Notes.txt", "x").GetText() +
                              "\0WW"s + dir.Loc("parts/Missing.cfgpart").GetText() + "\0WW"s +
                              dir.MakeFolder("Lib.cfgpart").GetText() + "\0\0"s;
    EXPECT_EQ(0, Restore(*set, block));
    EXPECT_EQ(4, set->GetActiveLibraryNum());  // no storable type yet

    set->AddStorableFileType(7);
    set->AddStorableFileType(partType);
    set->AddStorableFileType(7);
    set->RemoveStorableFileType(7);
    std::vector<FTM::GeneralID> types;
    for (auto it = set->EnumerateStorableFileTypes(); !it.IsEnd(); ++it)
        types.push_back(*it);
    EXPECT_EQ(std::vector<FTM::GeneralID>({partType}), types);
    EXPECT_EQ(0, Restore(*set, block));
    EXPECT_EQ(std::vector<OtherView>({{part.GetText(), "", false, "Door.cfgpart"}}), OtherObjects(*set));
    EXPECT_EQ(3, set->GetActiveLibraryNum());
    EXPECT_EQ(-1, set->GetActiveLibraryIndex(part));
}

TEST_F(OldTextSetTest, RoundTripThroughTheTextFormLosesFlagsUrlsAndObjects)
{
    const IO::Location lan = dir.MakeFolder("lan");
    ASSERT_EQ(0, set->SetLanCacheLocation(lan));
    ASSERT_EQ(0, set->SetUseLanCache(true));
    const IO::Location folder = dir.MakeFolder("Folder");
    set->AddActiveLibrary(folder, LM::Permanent, true, true);
    set->AddActiveLibrary(KR::String("http://host/Web/"), LM::NotPermanent, true);
    set->AddOtherObject(dir.Loc("o.gsm"));

    const std::string text = InfoOf(*set, true, LM::LibrarySet::InfoOldTextVersion);
    EXPECT_EQ("WS"s + lan.GetText() + "\0WW"s + folder.GetText() + "\0\0"s, text);

    auto back = std::make_unique<LM::LibrarySet>(handler, NoTypes());
    const IO::Location elsewhere = dir.MakeFolder("elsewhere");
    ASSERT_EQ(0, back->SetFtpCacheLocation(elsewhere));
    EXPECT_EQ(0, Restore(*back, text, true));  // a text block has no byte order
    EXPECT_EQ(std::vector<LibraryView>({{folder.GetText(), "", false, false}}), Libraries(*back));
    EXPECT_EQ(0, back->GetOtherObjectNum());
    EXPECT_TRUE(back->IsUseLanCache());
    // Written again, the set's own cache locations stand in the block.
    EXPECT_EQ(BlockBytes().Magic().Bool(true).Location("").Location(elsewhere.GetText()).Int32(1)
                  .Library(false, false, folder.GetText()).Int32(0).Magic().Str(),
              InfoOf(*back));
}

}  // namespace
