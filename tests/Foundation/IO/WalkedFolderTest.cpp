// Files opened while a walk visits their folder are opened by name relative
// to the folder the walk holds open: the right file must come back, also
// after the walk returned from a subfolder, and no descriptor may outlive
// the walk.
#include "IOTestSupport.hpp"

#include "IO/Internal.hpp"

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

std::size_t OpenDescriptors()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

}  // namespace

TEST(WalkedFolder, NamesOnlyEntriesDirectlyInTheAnnouncedFolder)
{
    const std::string folder = "/data/lib";
    struct Case {
        std::string path;
        const char* name;  // null: not an entry of the folder
    };
    const Case cases[] = {
        {"/data/lib/part.lpf", "part.lpf"},
        {"/data/lib/sub/part.lpf", nullptr},  // deeper
        {"/data/library/part.lpf", nullptr},  // a sibling sharing the prefix
        {"/data/lib", nullptr},               // the folder itself
        {"/data/lib/", nullptr},              // no name
        {"/data/part.lpf", nullptr},
    };
    EXPECT_EQ(Internal::WalkedFolderOf(cases[0].path, nullptr), -1) << "nothing announced";
    {
        const Internal::WalkedFolderScope scope(folder, 7);
        for (const Case& c : cases) {
            const char* name = nullptr;
            const int fd = Internal::WalkedFolderOf(c.path, &name);
            EXPECT_EQ(fd, c.name != nullptr ? 7 : -1) << c.path;
            if (c.name != nullptr && fd == 7) {
                EXPECT_STREQ(name, c.name) << c.path;
            }
        }
        const std::string root = "/";
        const Internal::WalkedFolderScope inner(root, 9);
        const char* name = nullptr;
        EXPECT_EQ(Internal::WalkedFolderOf("/x.lpf", &name), 9);
        EXPECT_EQ(Internal::WalkedFolderOf(cases[0].path, &name), -1) << "the inner scope hides the outer";
    }
    const char* name = nullptr;
    EXPECT_EQ(Internal::WalkedFolderOf(cases[0].path, &name), -1) << "the scopes ended";
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
    const std::size_t before = OpenDescriptors();
    Reader reader{Folder(dir.Loc())};
    ASSERT_EQ(reader.Do(), KR::NoError);
    EXPECT_EQ(reader.read, (std::vector<std::string>{"a=top a", "a=m a", "a=n a", "z=m z", "z=top z"}));
    EXPECT_EQ(OpenDescriptors(), before);
}
