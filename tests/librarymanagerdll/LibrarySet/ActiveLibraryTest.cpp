// The active library list: order, names, container libraries, cache
// locations, the locations that stand for a library's content and the
// refresh of mounted libraries.
#include "LibrarySetTestSupport.hpp"

#include "IO/FileSystem.hpp"
#include "IO/Folder.hpp"
#include "KRUtils/KRUtils.hpp"
#include "LibrarySet/ActiveLibraryList.hpp"
#include "LibrarySet/LibrarySetInternals.hpp"

using namespace LMTest;

using ActiveLibraries = SetFixture;
using Names = std::vector<std::string>;

namespace {

IO::FixedVFS* blocker = nullptr;

// Gives a file system, but something else is mounted at the location first,
// so that mounting it fails.
IO::FixedVFS* CreateBlockedVFS(const IO::Location& location)
{
    blocker = IO::CreateZipVFS(location);
    IO::fileSystem.Mount(*blocker, location);
    return CreateCountedZipVFS(location);
}

}  // namespace

TEST_F(ActiveLibraries, FileSystemThatCannotBeMountedIsDeleted)
{
    IO::Location zip = MakeZip(dir, "Blocked.zip", {{"a.gsm", "A"}});
    InitModule(dir.Loc("scriptcache"), &CreateBlockedVFS);
    int deletedBefore = CountingVFS::deleted;
    int aliveBefore = CountingVFS::alive;
    ASSERT_EQ(0, set->AddActiveLibrary(zip, LM::NotPermanent, false, true));
    EXPECT_FALSE(set->IsExistActiveLibrary(0));
    EXPECT_EQ(deletedBefore + 1, CountingVFS::deleted);
    EXPECT_EQ(aliveBefore, CountingVFS::alive);
    ASSERT_NE(nullptr, blocker);
    EXPECT_EQ(KR::NoError, IO::fileSystem.Unmount(*blocker));
    delete blocker;
}

TEST_F(ActiveLibraries, FirstWriteableLibrarySkipsFilesUrlsAndMissingFolders)
{
    IO::Location out("/untouched");
    EXPECT_EQ(-1, set->GetFirstWrittableActiveLibrary(&out));
    EXPECT_TRUE(out.IsEmpty());

    set->AddActiveLibrary(MakeZip(dir, "A mounted.zip", {{"a.gsm", "A"}}), LM::NotPermanent, false, true);
    set->AddActiveLibrary(MakeZip(dir, "B unmounted.zip", {{"b.gsm", "B"}}), LM::NotPermanent, false, false);
    set->AddActiveLibrary(KR::String("http://host/C/"), LM::NotPermanent, false);
    set->AddActiveLibrary(dir.Loc("D missing"), LM::NotPermanent, false, true);
    set->AddActiveLibrary(dir.MakeFolder("E folder"), LM::NotPermanent, false, true);
    ASSERT_EQ((Names{"A mounted.zip", "B unmounted.zip", "C", "D missing", "E folder"}), LibraryNames());
    EXPECT_EQ(4, set->GetFirstWrittableActiveLibrary(&out));
    KR::String name("kept");
    EXPECT_EQ(LM::ErrBadIndex, set->GetActiveLibraryName(5, &name));
    EXPECT_EQ(KR::ErrParam, set->GetActiveLibraryName(0, nullptr));
    EXPECT_EQ(dir.Loc("E folder"), out);
}

using CacheLocations = SetFixture;

TEST_F(CacheLocations, RefusedCacheLocationsKeepTheOldOne)
{
    // The LAN cache is used only once its folder exists; the URL cache need
    // not exist.
    IO::Location lan = dir.Loc("lan"), url = dir.Loc("url cache");
    EXPECT_EQ(LM::ErrBadIndex, set->SetUseLanCache(true));
    ASSERT_EQ(0, set->SetLanCacheLocation(lan));
    EXPECT_EQ(LM::ErrBadIndex, set->SetUseLanCache(true));
    dir.MakeFolder("lan");
    ASSERT_EQ(0, set->SetFtpCacheLocation(url));
    for (const IO::Location& refused : {IO::Location(), IO::Location("http://host/cache/"),
                                        IO::Location("ftp://host/c/"), IO::Location("relative/cache")}) {
        SCOPED_TRACE(refused.GetText());
        ASSERT_EQ(0, set->SetUseLanCache(true));
        EXPECT_EQ(LM::ErrBadIndex, set->SetFtpCacheLocation(refused));
        EXPECT_TRUE(set->IsUseLanCache());  // a refused URL cache leaves the LAN cache on
        EXPECT_EQ(LM::ErrBadIndex, set->SetLanCacheLocation(refused));
        EXPECT_FALSE(set->IsUseLanCache());  // a refused LAN cache switches it off
    }
    IO::Location out;
    EXPECT_EQ(0, set->GetLanCacheLocation(&out));
    EXPECT_EQ(lan, out);
    EXPECT_EQ(0, set->GetFtpCacheLocation(&out));
    EXPECT_EQ(url, out);
    EXPECT_EQ(KR::ErrParam, set->GetLanCacheLocation(nullptr));
}

TEST_F(CacheLocations, RefreshMountedFollowsTheDiskWhereItMay)
{
    IO::Location missing = dir.Loc("A missing");
    set->AddActiveLibrary(missing, LM::NotPermanent, false, true);
    set->AddActiveLibrary(dir.MakeFolder("B permanent"), LM::Permanent, false, true);
    set->AddActiveLibrary(KR::String("http://host/C/"), LM::NotPermanent, false);
    IO::Location zip = MakeZip(dir, "D mounted.zip", {{"a.gsm", "A"}});
    set->AddActiveLibrary(zip, LM::NotPermanent, false, true);
    set->AddActiveLibrary(dir.MakeFolder("E gone"), LM::NotPermanent, false, true);
    set->AddActiveLibrary(dir.MakeFolder("F zipped"), LM::NotPermanent, false, true);
    const LM::ActiveLibraryList& list = *LM::LibrarySetInternals::GetActiveLibraries(*set);
    const LM::ActiveLibrary* mounted = list.Get(3);
    IO::FixedVFS* before = mounted->fileSystem.get();
    // A permanent library is not copied; a URL library's content is in the URL cache.
    IO::Location out;
    ASSERT_TRUE(list.GetCacheCopyLocation(1, IO::Location("/lan"), &out));
    EXPECT_EQ(dir.Loc("B permanent"), out);
    ASSERT_TRUE(list.GetContentLocation(2, false, IO::Location("/lan"), IO::Location("/url"), &out));
    EXPECT_EQ(IO::Location("/url/C"), out);
    EXPECT_FALSE(list.GetCacheCopyLocation(9, IO::Location("/lan"), &out));

    dir.MakeFolder("A missing");          // appears, but the library did not exist
    fs::remove_all(dir / "B permanent");  // vanishes, but the library is permanent
    fs::remove_all(dir / "E gone");
    fs::remove_all(dir / "F zipped");
    IO::Location zipped = MakeZip(dir, "F zipped", {{"a.gsm", "A"}});
    set->RefreshMounted();
    EXPECT_EQ((std::vector<bool>{false, true, true, true, false, true}), Existing());
    EXPECT_EQ(before, mounted->fileSystem.get());
    EXPECT_TRUE(IO::fileSystem.IsMountPoint(zip));
    EXPECT_TRUE(IO::fileSystem.IsMountPoint(zipped));
}

TEST_F(CacheLocations, RefreshMountedMountsCacheCopiesOfLibraryFiles)
{
    IO::Location lan = dir.MakeFolder("lan");
    ASSERT_EQ(0, set->SetLanCacheLocation(lan));
    ASSERT_EQ(0, set->SetUseLanCache(true));
    // Added unmounted, as a configuration that uses the LAN cache adds them;
    // a permanent library file is mounted where it is.
    set->AddActiveLibrary(MakeZip(dir, "libs/Copied.zip", {{"a.gsm", "A"}}), LM::NotPermanent, false, false);
    set->AddActiveLibrary(MakeZip(dir, "libs/Uncopied.zip", {{"b.gsm", "B"}}), LM::NotPermanent, false, false);
    set->AddActiveLibrary(MakeZip(dir, "libs/Kept.zip", {{"c.gsm", "C"}}), LM::Permanent, false, true);
    IO::Location copy = MakeZip(dir, "lan/Copied.zip", {{"a.gsm", "A"}});
    const LM::ActiveLibraryList& list = *LM::LibrarySetInternals::GetActiveLibraries(*set);
    IO::FixedVFS* own = list.Get(1)->fileSystem.get();
    int aliveBefore = CountingVFS::alive;

    set->RefreshMounted();
    EXPECT_TRUE(IO::fileSystem.IsMountPoint(copy));
    // Without a copy the library loses its file system and no longer exists.
    EXPECT_EQ((std::vector<bool>{true, true, false}), Existing());
    EXPECT_EQ(nullptr, list.Get(2)->fileSystem.get());
    EXPECT_EQ(aliveBefore, CountingVFS::alive);  // one copy mounted, one file system deleted
    // The permanent library keeps its own mount and gets no cache copy.
    EXPECT_EQ(own, list.Get(1)->fileSystem.get());
    EXPECT_EQ(nullptr, list.Get(1)->cacheFileSystem.get());

    set->RemoveActiveLibrary(0);
    EXPECT_FALSE(IO::fileSystem.IsMountPoint(copy));
}
