// Cache locations, the locations that stand for a library's content and the
// refresh of mounted libraries.
#include "LibrarySetTestSupport.hpp"

#include "IO/FileSystem.hpp"
#include "LibrarySet/ActiveLibraryList.hpp"
#include "LibrarySet/LibrarySetInternals.hpp"

using namespace LMTest;

using CacheLocations = SetFixture;

TEST_F(CacheLocations, RefusedCacheLocationsKeepTheOldOne)
{
    IO::Location lan = dir.MakeFolder("lan"), url = dir.Loc("url cache");  // the URL cache need not exist
    ASSERT_EQ(0, set->SetLanCacheLocation(lan));
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

TEST_F(CacheLocations, UseLanCacheNeedsAnExistingFolder)
{
    EXPECT_EQ(LM::ErrBadIndex, set->SetUseLanCache(true));  // no location at all
    ASSERT_EQ(0, set->SetLanCacheLocation(dir.Loc("not yet")));
    EXPECT_EQ(LM::ErrBadIndex, set->SetUseLanCache(true));
    dir.MakeFolder("not yet");
    EXPECT_EQ(0, set->SetUseLanCache(true));
}

TEST_F(CacheLocations, CacheCopyAndContentLocations)
{
    set->AddActiveLibrary(dir.MakeFolder("Perm"), LM::Permanent, false, true);
    set->AddActiveLibrary(dir.MakeFolder("Temp"), LM::NotPermanent, false, true);
    set->AddActiveLibrary(KR::String("http://host/Web/"), LM::NotPermanent, false);
    const LM::ActiveLibraryList& list = *LM::LibrarySetInternals::GetActiveLibraries(*set);
    IO::Location lan("/caches/lan"), url("/caches/url"), out;

    ASSERT_TRUE(list.GetCacheCopyLocation(0, lan, &out));  // a permanent library is not copied
    EXPECT_EQ(dir.Loc("Perm"), out);
    ASSERT_TRUE(list.GetCacheCopyLocation(1, lan, &out));
    EXPECT_EQ(IO::Location("/caches/lan/Temp"), out);
    EXPECT_FALSE(list.GetCacheCopyLocation(3, lan, &out));

    ASSERT_TRUE(list.GetContentLocation(2, false, lan, url, &out));
    EXPECT_EQ(IO::Location("/caches/url/Web"), out);
    ASSERT_TRUE(list.GetContentLocation(1, true, lan, url, &out));
    EXPECT_EQ(IO::Location("/caches/lan/Temp"), out);
    ASSERT_TRUE(list.GetContentLocation(0, true, lan, url, &out));
    EXPECT_EQ(dir.Loc("Perm"), out);
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
    const LM::ActiveLibrary* mounted = LM::LibrarySetInternals::GetActiveLibraries(*set)->Get(3);
    IO::FixedVFS* before = mounted->fileSystem.get();
    ASSERT_NE(nullptr, before);

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
    IO::Location kept = MakeZip(dir, "libs/Kept.zip", {{"c.gsm", "C"}});
    set->AddActiveLibrary(kept, LM::Permanent, false, true);
    IO::Location copy = MakeZip(dir, "lan/Copied.zip", {{"a.gsm", "A"}});
    const LM::ActiveLibraryList& list = *LM::LibrarySetInternals::GetActiveLibraries(*set);
    IO::FixedVFS* own = list.Get(1)->fileSystem.get();
    ASSERT_NE(nullptr, own);
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
    EXPECT_TRUE(IO::fileSystem.IsMountPoint(kept));

    set->RemoveActiveLibrary(0);
    EXPECT_FALSE(IO::fileSystem.IsMountPoint(copy));
}
