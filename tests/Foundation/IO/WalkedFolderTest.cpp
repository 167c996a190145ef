// Files opened while a walk visits their folder are opened by name relative
// to the folder the walk holds open: the right file must come back, also
// after the walk returned from a subfolder, and no descriptor may outlive
// the walk.
#include "IOTestSupport.hpp"

#include "IO/Internal.hpp"
#include "Support/FaultPlatform.hpp"

#include <filesystem>

using namespace IO;
using namespace IOTest;

namespace {

// Reads every file it meets through IO::File and records "path=content".
class Reader : public IO::TreeEnumerator {
public:
    using IO::TreeEnumerator::TreeEnumerator;
    std::vector<std::string> read;

protected:
    bool FileFound(const Name& name) override
    {
        File file(Location(GetParent().GetLocation(), name));
        char buffer[64] = {};
        std::size_t got = 0;
        std::string content = "(cannot open)";
        if (file.Open(OpenMode::Read) == KR::NoError) {
            file.ReadBin(buffer, sizeof buffer - 1, &got);
            content.assign(buffer, got);
        }
        read.push_back(name.Std() + "=" + content);
        return false;
    }
};

}  // namespace

TEST(WalkedFolder, NamesOnlyEntriesDirectlyInTheAnnouncedFolder)
{
    const std::vector<std::pair<std::string, const char*>> cases = {
        {"/data/lib/part.lpf", "part.lpf"},
        {"/data/lib/sub/part.lpf", nullptr},  // deeper
        {"/data/library/part.lpf", nullptr},  // a sibling sharing the prefix
        {"/data/lib", nullptr},               // the folder itself
        {"/data/lib/", nullptr},              // no name
    };
    const std::string folder = "/data/lib", root = "/";  // the scopes keep references to these
    const char* name = nullptr;
    EXPECT_EQ(Internal::WalkedFolderOf(cases[0].first, &name), -1) << "nothing announced";
    {
        const Internal::WalkedFolderScope scope(folder, 7);
        for (const auto& [path, expected] : cases) {
            name = nullptr;
            EXPECT_EQ(Internal::WalkedFolderOf(path, &name), expected != nullptr ? 7 : -1) << path;
            EXPECT_STREQ(name, expected) << path;
        }
        const Internal::WalkedFolderScope inner(root, 9);
        EXPECT_EQ(Internal::WalkedFolderOf("/x.lpf", &name), 9);
        EXPECT_EQ(Internal::WalkedFolderOf(cases[0].first, &name), -1) << "the inner scope hides the outer";
    }
    EXPECT_EQ(Internal::WalkedFolderOf(cases[0].first, &name), -1) << "the scopes ended";
}

TEST(WalkedFolder, WalkOpensTheFileOfTheFolderBeingWalkedAndClosesEverything)
{
    TempDir dir;
    // Same names at every level: a file opened against the wrong folder
    // shows in its content.
    WriteFileBytes(dir / "a", "top a");
    WriteFileBytes(dir / "m/a", "m a");
    WriteFileBytes(dir / "m/n/a", "n a");
    WriteFileBytes(dir / "m/z", "m z");  // after the walk came back from m/n
    WriteFileBytes(dir / "z", "top z");
    const std::size_t before = TestSupport::OpenDescriptorCount();
    Reader reader{Folder(dir.Loc())};
    ASSERT_EQ(reader.Do(), KR::NoError);
    EXPECT_EQ(reader.read, (std::vector<std::string>{"a=top a", "a=m a", "a=n a", "z=m z", "z=top z"}));
    EXPECT_EQ(TestSupport::OpenDescriptorCount(), before);
}
