// Runs the built lpf tool on temporary folders.
#include "Support/Handles.hpp"
#include "Support/TempDir.hpp"
#include "Support/ToolRunner.hpp"

#include "LPF/ByteOrder.hpp"
#include "LPF/PartFile.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>

#include <sys/stat.h>

#ifndef LPF_TOOL_PATH
#error "LPF_TOOL_PATH must name the lpf binary"
#endif

namespace {

namespace fs = std::filesystem;
using TestSupport::ReadFileBytes;
using TestSupport::TempDir;

const char* const Own = "{11111111-2222-3333-4444-555555555555}-{66666666-7777-8888-9999-AAAAAAAAAAAA}";
const char* const Root = "{A1B2C3D4-0001-0002-0304-050607080910}-{0F0E0D0C-0B0A-0908-0706-050403020100}";
const char* const Parent = "{B1B2C3D4-1001-1002-1304-150617181910}-{1F1E1D1C-1B1A-1918-1716-151413121110}";

using Result = TestSupport::ToolResult;

// Runs lpf with `args` in `scratch`; its standard input is `input`.
Result RunTool(const std::vector<std::string>& args, const TempDir& scratch, const std::string& input = "")
{
    return TestSupport::RunTool(LPF_TOOL_PATH, args, scratch, input);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool HasLine(const std::string& text, const std::string& line)
{
    const std::vector<std::string> lines = Lines(text);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::vector<std::string> CreateArgs(const std::string& file, const char* extra = nullptr)
{
    std::vector<std::string> args = {"create", file, "--name", "Door Single", "--unid", Own, "--ancestor", Root,
                                     "--ancestor", Parent, "--placeable", "--param", "width=1.5", "--param",
                                     "count=3", "--param", "on=true", "--param", "finish=Oak"};
    if (extra != nullptr)
        args.push_back(extra);
    return args;
}

// --- create and dump ------------------------------------------------------------

// The layout of each section is tested with its reader and writer; here the
// tool writes what it is told and prints it.
TEST(LpfTool, CreatedPartDumpsItsHeaderAndSections)
{
    TempDir folder;
    const std::string file = folder / "door.lpf";
    Result created = RunTool(CreateArgs(file, "--template"), folder);
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_TRUE(created.err.empty());

    Result dump = RunTool({"dump", file}, folder);
    ASSERT_EQ(dump.status, 0) << dump.err;
    const std::vector<std::string> lines = {"kind: symbol", "byte order: little-endian (0x5757)", "placeable: yes",
                                            "template: yes", "document name: Door Single", "sections: 2",
                                            "  ANCS 0 platform 0x5757 size 96", "    Number of ancestors: 2",
                                            "    width = 1.5", "    finish = \"Oak\"", std::string("UnID: ") + Own};
    for (const std::string& line : lines)
        EXPECT_TRUE(HasLine(dump.out, line)) << "missing: " << line << "\n" << dump.out;

    // The other byte order dumps the same values.
    ASSERT_EQ(RunTool(CreateArgs(folder / "big.lpf", "--other-byte-order"), folder).status, 0);
    Result big = RunTool({"dump", folder / "big.lpf"}, folder);
    EXPECT_TRUE(HasLine(big.out, "byte order: big-endian (0x4D4D)")) << big.out;
    EXPECT_TRUE(HasLine(big.out, "    width = 1.5")) << big.out;

    // A script has its text, as given, as its one section: from the command
    // line, a file (zero bytes included) or standard input.
    const std::string binary("from a file\n\0end", 17);
    TestSupport::WriteFileBytes(folder / "text.gdl", binary);
    const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> texts = {
        {{"--text", "print 1\n"}, "", "print 1\n"},
        {{"--text-file", folder / "text.gdl"}, "", binary},
        {{"--text-file", "-"}, "piped\n", "piped\n"},
    };
    for (const auto& [options, input, expected] : texts) {
        std::vector<std::string> args = {"create-script", folder / "s.lps", "--name", "S"};
        args.insert(args.end(), options.begin(), options.end());
        ASSERT_EQ(RunTool(args, folder, input).status, 0) << options[1];
        LPF::ScriptFile part{IO::Location(folder / "s.lps")};
        char** text = nullptr;
        ASSERT_EQ(part.GetSectionDataRef(LPF::MakeSectionType('S', 'C', 'R', 'P'), 0, &text), KR::NoError);
        EXPECT_EQ(TestSupport::HandleBytes(text), expected) << options[1];
    }
    EXPECT_TRUE(HasLine(RunTool({"dump", folder / "s.lps"}, folder).out, "kind: script"));
}

// --- generate ----------------------------------------------------------------

std::map<std::string, std::string> Files(const std::string& root)
{
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            files[fs::relative(e.path(), root).string()] = ReadFileBytes(e.path().string());
    return files;
}

// The counts of the summary line ("parts=300 scripts=6 ...").
std::map<std::string, std::uint64_t> Summary(const std::string& line)
{
    std::map<std::string, std::uint64_t> values;
    std::istringstream in(line);
    for (std::string item; in >> item;)
        if (const std::size_t eq = item.find('='); eq != std::string::npos)
            values[item.substr(0, eq)] = std::stoull(item.substr(eq + 1));
    return values;
}

TEST(LpfTool, GenerateIsDeterministicForASeedAndItsSummaryCountsTheFiles)
{
    TempDir folder;
    auto generate = [&](const std::string& dir, const std::string& seed) {
        Result r = RunTool({"generate", folder / dir, "--parts", "2000", "--seed", seed, "--depth", "4", "--types", "100"},
                           folder);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    };
    const std::string first = generate("one", "42");
    EXPECT_EQ(generate("two", "42"), first);
    const auto files = Files(folder / "one");
    EXPECT_TRUE(files == Files(folder / "two"));

    // The summary adds up to the parts asked for and shows every kind of
    // part the module must cope with; its part count is checked against an
    // enumeration with the libman tool.
    std::map<std::string, std::uint64_t> s = Summary(first);
    EXPECT_EQ(s["types"] + s["ordinary"] + s["revisions"] + s["without-id"] + s["duplicate-ids"] +
                  s["duplicate-names"] + s["unnamed"],
              2000u);
    EXPECT_LE(s["deepest"], 4u);
    for (const char* key : {"parts", "without-id", "unnamed", "big-endian", "scripts", "others"})
        EXPECT_GT(s[key], 0u) << key;
}

// --- errors --------------------------------------------------------------------

// Each bad argument gives one line "lpf: ..." on stderr and nothing on
// stdout; numbers out of range are usage errors that name the range.
TEST(LpfTool, BadArgumentsGiveOneLineOnStderrAndFailure)
{
    TempDir folder;
    fs::create_directory(folder / "full");
    TestSupport::WriteFileBytes(folder / "full/x", "x");
    TestSupport::WriteFileBytes(folder / "text.lpf", "not a part file at all");
    const std::string g = folder / "g";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, ""},
        {{"frobnicate"}, ""},
        {{"create", folder / "a.lpf"}, ""},
        {{"create", folder / "a.lpf", "--name", "A", "--unid", "{not-a-unid}"}, ""},
        {{"create", folder / "a.lpf", "--name", "A", "--ancestor", "zz"}, ""},
        {{"create", folder / "a.lpf", "--name", std::string(256, 'n')}, ""},
        {{"create", folder / "a.lpf", "--name", "A", "--param", "novalue"}, ""},
        {{"create", folder / "missing/a.lpf", "--name", "A"}, ""},
        {{"dump", folder / "missing.lpf"}, ""},
        {{"dump", folder / "text.lpf"}, ""},
        {{"generate", g}, ""},
        {{"generate", folder / "full", "--parts", "5"}, ""},
        {{"generate", g, "--parts", "4294967297"}, "--parts must be a whole number from 1 to 10000000"},
        {{"generate", g, "--parts", "5", "--seed", "18446744073709551616"},
         "--seed must be a whole number from 0 to 18446744073709551615"},
        {{"generate", g, "--parts", "5", "--depth", "65"}, "--depth must be a whole number from 1 to 64"},
        {{"generate", g, "--parts", "5", "--scripts", "-1"}, "--scripts must be a whole number from 0 to 10000000"},
        {{"generate", g, "--parts", "5", "--types", "+3"}, "--types must be a whole number from 1 to 10000000"},
    };
    for (const auto& [args, range] : cases) {
        const std::string shown = args.empty() ? "" : args[0] + " " + args.back().substr(0, 40);
        Result r = RunTool(args, folder);
        EXPECT_TRUE(range.empty() ? r.status != 0 : r.status == 2) << shown << ": " << r.status;
        EXPECT_TRUE(r.out.empty()) << shown;
        const std::vector<std::string> lines = Lines(r.err);
        ASSERT_EQ(lines.size(), 1u) << shown << "\n" << r.err;
        EXPECT_EQ(lines[0].rfind("lpf: " + range, 0), 0u) << lines[0];
    }
    EXPECT_FALSE(fs::exists(folder / "a.lpf") || fs::exists(g));
    EXPECT_EQ(RunTool({"generate", g, "--parts", "3", "--seed", "18446744073709551615"}, folder).status, 0);
    EXPECT_EQ(RunTool({"--version"}, folder).out.rfind("lpf ", 0), 0u);
}

// What may be replaced is the replace helper's rule, tested with it; here
// the tool refuses to read a FIFO and reports a refused write.
TEST(LpfTool, OnlyRegularFilesAreReadOrReplaced)
{
    TempDir folder;
    // A FIFO without a writer: opening it to read would wait for ever.
    const std::string fifo = folder / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    Result r = RunTool({"dump", fifo}, folder);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "lpf: " + fifo + ": not a regular file\n");
    r = RunTool({"create-script", folder / "s.lps", "--name", "S", "--text-file", fifo}, folder);
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(folder / "s.lps"));

    r = RunTool({"create", fifo, "--name", "X"}, folder);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("lpf: cannot write " + fifo + ": ", 0), 0u) << r.err;
}

TEST(LpfTool, ErrorsAreNamedWithTheirValueAndDamageIsLocated)
{
    TempDir folder;
    const std::string file = folder / "door.lpf";
    ASSERT_EQ(RunTool(CreateArgs(file), folder).status, 0);
    const std::string bytes = ReadFileBytes(file);

    TestSupport::WriteFileBytes(folder / "cut.lpf", bytes.substr(0, 40));
    Result r = RunTool({"dump", folder / "cut.lpf"}, folder);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "lpf: " + (folder / "cut.lpf") + ": damaged part file (-2130378749): header cut short\n");

    // An ancestry section whose count says more ancestors than it holds.
    // Its offset is in the first directory entry, after the 56-byte header
    // and the 11-byte name padded to 68.
    std::string damaged = bytes;
    const std::uint32_t offset = LPF::Load32(reinterpret_cast<const unsigned char*>(damaged.data()) + 68 + 20,
                                             LPF::ByteOrder::Little);
    ASSERT_LT(offset + 8u, damaged.size());
    damaged[offset + 4] = 5;
    TestSupport::WriteFileBytes(folder / "count.lpf", damaged);
    r = RunTool({"dump", folder / "count.lpf"}, folder);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "lpf: " + (folder / "count.lpf") + ": section ANCS: unreadable block (-7003)\n");
    EXPECT_TRUE(HasLine(r.out, "    (cannot read: unreadable block (-7003))")) << r.out;

    // Names and values are printed with their control characters escaped,
    // so that none of them can make a line of its own.
    ASSERT_EQ(RunTool({"create", file, "--name", "A\nfile: fake\x1B[2J\\n", "--param", "t=x\ry"}, folder).status, 0);
    const std::string odd = RunTool({"dump", file}, folder).out;
    EXPECT_TRUE(HasLine(odd, "document name: A\\nfile: fake\\x1B[2J\\\\n")) << odd;
    EXPECT_EQ(odd.find_first_of("\x1B\r"), std::string::npos);
}

}  // namespace
