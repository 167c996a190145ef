// The descriptor walk must see a tree exactly as the TreeEnumerator walk
// does (same callbacks in the same order, same entries passed over, same
// folders skipped), and a failing system call must never make it drop
// entries without reporting it or leak a descriptor.
#include "IOTestSupport.hpp"

#include "IO/RawTreeWalk.hpp"
#include "Support/FaultPlatform.hpp"

#include <sys/stat.h>
#include <unistd.h>

using namespace IOTest;

namespace {

// Records every callback; passes over entries named "skip".
struct Trace {
    std::vector<std::string> lines;
    void Add(const std::string& line) { lines.push_back(line); }
};

class Enumerated : public IO::TreeEnumerator {
public:
    using IO::TreeEnumerator::TreeEnumerator;
    Trace trace;

protected:
    bool EntryFound(const IO::Name& name, bool isFolder) override
    {
        trace.Add("entry " + name.Std() + (isFolder ? " /" : ""));
        return name.Std() != "skip";
    }
    bool FileFound(const IO::Name& name) override
    {
        std::int32_t time = 0;
        const KR::ErrorCode err = GetFileTime(name, &time);
        trace.Add("file " + name.Std() + " " + std::to_string(err == KR::NoError ? time : -1));
        return false;
    }
    void FolderEntered(const IO::Name& name, IO::Folder&) override { trace.Add("enter " + name.Std()); }
    void FolderExited(const IO::Name&, IO::Folder&) override { trace.Add("exit"); }
};

class Raw : public IO::RawTreeWalk {
public:
    Trace trace;

protected:
    bool EntryFound(const char* name, std::size_t length, bool isFolder) override
    {
        trace.Add("entry " + std::string(name, length) + (isFolder ? " /" : ""));
        return std::string(name) != "skip";
    }
    void FileFound(const char* name, std::size_t) override
    {
        std::int32_t time = 0;
        const KR::ErrorCode err = GetFileTime(name, &time);
        trace.Add("file " + std::string(name) + " " + std::to_string(err == KR::NoError ? time : -1));
    }
    void FolderEntered(const char* name, std::size_t) override { trace.Add("enter " + std::string(name)); }
    void FolderExited() override { trace.Add("exit"); }
};

// The names the trace met, without kinds or times.
std::vector<std::string> Names(const Trace& trace)
{
    std::vector<std::string> names;
    for (const std::string& line : trace.lines)
        if (line.rfind("entry ", 0) == 0)
            names.push_back(line.substr(6, line.find(' ', 6) - 6));
    return names;
}

}  // namespace

TEST(RawTreeWalk, SeesTheTreeAsTheEnumeratorDoes)
{
    TempDir dir;
    for (const char* file : {"t/b.gsm", "t/B.gsm", "t/a b.gsm", "t/\xC3\x84.gsm", "t/Sub/x", "t/Sub/Deep/y",
                             "t/skip/hidden", "t/Locked/z", "t/Empty/.keep"})
        dir.WriteFile(file, file);
    SetUnixTime(dir / "t/b.gsm", 1'700'000'000);
    ASSERT_EQ(0, ::symlink("b.gsm", (dir / "t/link to file").c_str()));
    ASSERT_EQ(0, ::symlink("Sub", (dir / "t/link to folder").c_str()));
    ASSERT_EQ(0, ::symlink("nothing", (dir / "t/dangling").c_str()));
    ASSERT_EQ(0, ::mkfifo((dir / "t/pipe").c_str(), 0600));
    ASSERT_TRUE(IO::RawTreeWalk::CanWalk(dir.Loc("t")));

    TestSupport::FaultPlatform faults;
    faults.FailPath(dir / "t/Locked", EACCES);  // cannot be listed: skipped by both
    Enumerated enumerated{IO::Folder(dir.Loc("t"))};
    ASSERT_EQ(KR::NoError, enumerated.Do());
    Raw raw;
    ASSERT_EQ(KR::NoError, raw.Do(dir.Loc("t")));
    EXPECT_EQ(enumerated.trace.lines, raw.trace.lines);
    EXPECT_EQ(1u, enumerated.GetSkippedCount());
    EXPECT_EQ(1u, raw.GetSkippedCount());
    EXPECT_EQ(IO::ErrNotFound, raw.Do(dir.Loc("missing")));

    // Whatever call fails, a walk that reports success has met every entry,
    // and no descriptor stays open.
    std::vector<std::string> all;
    const std::size_t descriptors = OpenDescriptorCount();
    SweepFaults(faults, EIO, [&](std::uint64_t n) {
        Raw walk;
        const KR::ErrorCode err = walk.Do(dir.Loc("t"));
        if (n == 0)
            all = Names(walk.trace);
        if (err == KR::NoError && walk.GetSkippedCount() == 0) {
            EXPECT_EQ(all, Names(walk.trace)) << "call " << n;
        }
        EXPECT_EQ(descriptors, OpenDescriptorCount()) << "call " << n;
    });
}
