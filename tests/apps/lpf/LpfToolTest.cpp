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
#include <set>
#include <sstream>
#include <tuple>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#ifndef LPF_TOOL_PATH
#error "LPF_TOOL_PATH must name the lpf binary"
#endif

namespace {

namespace fs = std::filesystem;
using TestSupport::ReadFileBytes;
using TestSupport::TempDir;

constexpr std::uint32_t AncestryType = LPF::MakeSectionType('A', 'N', 'C', 'S');

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

std::string SectionBytes(LPF::PartFile& file, std::uint32_t type)
{
    char** data = nullptr;
    EXPECT_EQ(file.GetSectionDataRef(type, 0, &data), KR::NoError);
    return TestSupport::HandleBytes(data);
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

TEST(LpfTool, CreatedPartDumpsItsHeaderAndSections)
{
    TempDir folder;
    const std::string file = folder / "door.lpf";
    Result created = RunTool(CreateArgs(file), folder);
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_TRUE(created.err.empty());

    Result dump = RunTool({"dump", file}, folder);
    ASSERT_EQ(dump.status, 0) << dump.err;
    for (const char* line : {"kind: symbol", "byte order: little-endian (0x5757)", "format version: 1.0",
                             "placeable: yes", "archivable: no", "document name: Door Single", "sections: 2",
                             "  ANCS 0 platform 0x5757 size 96", "    width = 1.5", "    count = 3", "    on = true",
                             "    finish = \"Oak\""})
        EXPECT_TRUE(HasLine(dump.out, line)) << "missing: " << line << "\n" << dump.out;
    EXPECT_TRUE(HasLine(dump.out, std::string("UnID: ") + Own)) << dump.out;
    // The module's handlers, registered when it is loaded, print both
    // sections in detail.
    EXPECT_TRUE(HasLine(dump.out, "    Number of ancestors: 2")) << dump.out;
    EXPECT_TRUE(HasLine(dump.out, std::string("    \t") + Parent)) << dump.out;
    EXPECT_TRUE(HasLine(dump.out, "    Number of parameters: 4")) << dump.out;
    EXPECT_TRUE(HasLine(dump.out, "template: no")) << dump.out;
    ASSERT_EQ(RunTool(CreateArgs(file, "--template"), folder).status, 0);
    EXPECT_TRUE(HasLine(RunTool({"dump", file}, folder).out, "template: yes"));

    // A script is of the second kind, with its text as its one section.
    const std::string script = folder / "macro.lps";
    ASSERT_EQ(RunTool({"create-script", script, "--name", "Macro", "--text", "print 1\n"}, folder).status, 0);
    dump = RunTool({"dump", script}, folder);
    ASSERT_EQ(dump.status, 0) << dump.err;
    for (const char* line : {"kind: script", "document name: Macro", "  SCRP 0 platform 0x5757 size 8"})
        EXPECT_TRUE(HasLine(dump.out, line)) << "missing: " << line << "\n" << dump.out;
    EXPECT_EQ(dump.out.find("UnID"), std::string::npos);

    // The text as given, from a file (zero bytes included) or from standard input.
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
        EXPECT_EQ(SectionBytes(part, LPF::MakeSectionType('S', 'C', 'R', 'P')), expected) << options[1];
    }
}

// Names and values are printed with their control characters escaped, so
// that none of them can make a line of its own.
TEST(LpfTool, DumpEscapesControlCharacters)
{
    TempDir folder;
    const std::string file = folder / "odd.lpf";
    ASSERT_EQ(RunTool({"create", file, "--name", "A\nfile: fake\x1B[2J\\n", "--param", "t=x\ry"}, folder).status, 0);
    Result dump = RunTool({"dump", file}, folder);
    ASSERT_EQ(dump.status, 0) << dump.err;
    EXPECT_TRUE(HasLine(dump.out, "document name: A\\nfile: fake\\x1B[2J\\\\n")) << dump.out;
    EXPECT_EQ(dump.out.find('\x1B'), std::string::npos);
    EXPECT_EQ(dump.out.find('\r'), std::string::npos);
    const std::vector<std::string> lines = Lines(dump.out);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("file: ", 0) == 0; }),
              1);
}

// The ancestry section has the same layout in either byte order, and the
// dumps of both orders tell the same values.
TEST(LpfTool, AncestrySectionInEitherByteOrder)
{
    TempDir folder;
    ASSERT_EQ(RunTool(CreateArgs(folder / "little.lpf", "--template"), folder).status, 0);
    ASSERT_EQ(RunTool(CreateArgs(folder / "big.lpf", "--other-byte-order"), folder).status, 0);
    LPF::SymbolFile part{IO::Location(folder / "little.lpf")};
    const std::string bytes = SectionBytes(part, AncestryType);
    ASSERT_EQ(bytes.size(), 96u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x01\0\0\0\x02\0\0\0", 8));  // template, count 2
    EXPECT_EQ(bytes.substr(8, 24), std::string(24, '\0'));
    KR::UnID root, parent;
    ASSERT_EQ(KR::UnID::FromString(Root, &root), KR::NoError);
    ASSERT_EQ(KR::UnID::FromString(Parent, &parent), KR::NoError);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    EXPECT_EQ(LPF::LoadGUID(p + 32, LPF::ByteOrder::Little).data1, root.mainGuid.data1);
    EXPECT_EQ(LPF::LoadGUID(p + 48, LPF::ByteOrder::Little).data2, root.revGuid.data2);
    EXPECT_EQ(LPF::LoadGUID(p + 64, LPF::ByteOrder::Little).data3, parent.mainGuid.data3);
    EXPECT_EQ(std::memcmp(p + 88, parent.revGuid.data4, 8), 0);

    const std::string big = ReadFileBytes(folder / "big.lpf");
    EXPECT_EQ(big.substr(4, 4), std::string("\0\0MM", 4));
    // The ancestry section is the first in the directory, which follows the
    // 56-byte header and the 11-byte name padded to 68.
    const auto* b = reinterpret_cast<const unsigned char*>(big.data());
    const std::uint32_t offset = LPF::Load32(b + 68 + 20, LPF::ByteOrder::Big);
    ASSERT_LE(offset + 96u, big.size());
    EXPECT_EQ(big.substr(offset, 8), std::string("\0\0\0\0\0\0\0\x02", 8));  // no template, count 2
    EXPECT_EQ(big.substr(offset + 32, 4), "\xA1\xB2\xC3\xD4");            // root's data1, big-endian

    auto normalised = [&](const std::string& file) {
        Result dump = RunTool({"dump", file}, folder);
        EXPECT_EQ(dump.status, 0) << dump.err;
        // Only the little-endian part is a template.
        EXPECT_TRUE(HasLine(dump.out, file == folder / "little.lpf" ? "template: yes" : "template: no")) << dump.out;
        std::string out;
        for (std::string line : Lines(dump.out)) {
            if (line.rfind("file:", 0) == 0 || line.rfind("byte order:", 0) == 0 || line.rfind("modified:", 0) == 0 ||
                line.rfind("template:", 0) == 0)
                continue;
            if (auto p = line.find("0x4D4D"); p != std::string::npos)
                line.replace(p, 6, "0x5757");
            out += line + "\n";
        }
        return out;
    };
    const std::string little = normalised(folder / "little.lpf");
    EXPECT_EQ(normalised(folder / "big.lpf"), little);
    EXPECT_NE(little.find("width = 1.5"), std::string::npos);
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

std::map<std::string, std::uint64_t> Summary(const std::string& line)
{
    std::map<std::string, std::uint64_t> values;
    std::istringstream in(line);
    for (std::string item; in >> item;) {
        const std::size_t eq = item.find('=');
        if (eq != std::string::npos)
            values[item.substr(0, eq)] = std::stoull(item.substr(eq + 1));
    }
    return values;
}

TEST(LpfTool, GenerateIsDeterministicForASeed)
{
    TempDir folder;
    auto generate = [&](const std::string& dir, const std::string& seed) {
        Result r = RunTool({"generate", folder / dir, "--parts", "300", "--seed", seed}, folder);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    };
    const std::string first = generate("one", "42");
    const std::string second = generate("two", "42");
    EXPECT_EQ(first, second);
    const auto a = Files(folder / "one");
    ASSERT_FALSE(a.empty());
    EXPECT_TRUE(a == Files(folder / "two"));
    generate("three", "43");
    EXPECT_FALSE(a == Files(folder / "three"));
}

TEST(LpfTool, GenerateWritesTheAdvertisedCategories)
{
    TempDir folder;
    const std::string root = folder / "library";
    Result r = RunTool({"generate", root, "--parts", "2000", "--seed", "5", "--depth", "4", "--types", "100"}, folder);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(Lines(r.out).size(), 1u);
    std::map<std::string, std::uint64_t> s = Summary(r.out);
    EXPECT_EQ(s["parts"], 2000u);
    EXPECT_EQ(s["types"] + s["ordinary"] + s["revisions"] + s["without-id"] + s["duplicate-ids"] +
                  s["duplicate-names"] + s["unnamed"],
              2000u);
    EXPECT_GE(s["deepest"], 3u);
    EXPECT_LE(s["deepest"], 4u);

    // Count what the files themselves say, under the names of the summary.
    std::map<std::string, std::uint64_t> seen;
    std::map<std::string, int> ids, names, perFolder;
    std::set<std::string> mains, templateMains;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        seen["folders"] += e.is_directory() ? 1 : 0;
        if (!e.is_regular_file())
            continue;
        ++perFolder[e.path().parent_path().string()];
        const IO::Location location(e.path().string());
        if (e.path().extension() != ".lpf") {
            const bool script = e.path().extension() == ".lps";
            if (script)
                EXPECT_NO_THROW(LPF::ScriptFile{location});
            else
                EXPECT_EQ(LPF::OpenPartFile(location), nullptr) << e.path();
            ++seen[script ? "scripts" : "others"];
            continue;
        }
        ++seen["parts"];
        LPF::SymbolFile part{location};
        KR::UnID id;
        part.GetOwnUnID(&id);
        const std::string name = part.GetFullDocumentName();
        const bool big = part.GetHeaderPlatform() == LPF::OtherPlatform;
        seen["big-endian"] += big ? 1 : 0;
        name.empty() ? ++seen["unnamed"] : ++names[name];
        id.IsNull() ? ++seen["without-id"] : ++ids[id.ToString()];
        if (!id.IsNull())
            mains.insert(id.ToString().substr(0, 38));
        LPF::SectionInfo info;
        ASSERT_EQ(part.GetSectionInfo(0, &info), KR::NoError);
        ASSERT_EQ(info.type, AncestryType);  // first, so that it comes with the first read
        EXPECT_LE(info.size, 32u * (s["deepest"] + 1));
        // The template flag byte reads the same in either byte order; the
        // directory entry of the ancestry section gives its offset.
        const std::string raw = ReadFileBytes(e.path().string());
        const std::size_t directory = (56 + name.size() + 3) / 4 * 4;
        const std::uint32_t offset = LPF::Load32(reinterpret_cast<const unsigned char*>(raw.data()) + directory + 20,
                                                 big ? LPF::ByteOrder::Big : LPF::ByteOrder::Little);
        ASSERT_LT(offset, raw.size());
        if (raw[offset] == 1)
            templateMains.insert(id.ToString().substr(0, 38));
    }
    for (const auto* counts : {&ids, &names})
        for (const auto& [key, count] : *counts)
            seen[counts == &ids ? "duplicate-ids" : "duplicate-names"] += static_cast<std::uint64_t>(count - 1);
    seen["revisions"] = ids.size() - mains.size();  // more revision GUIDs than main GUIDs
    seen["templates"] = templateMains.size();
    for (const char* key : {"parts", "folders", "templates", "revisions", "without-id", "duplicate-ids",
                            "duplicate-names", "unnamed", "big-endian", "scripts", "others"}) {
        EXPECT_GT(s[key], 0u) << key;
        EXPECT_EQ(seen[key], s[key]) << key;
    }
    EXPECT_GT(s["types"], 0u);
    for (const auto& [path, count] : perFolder)
        EXPECT_LE(count, 300) << path;
}

// --- errors --------------------------------------------------------------------

TEST(LpfTool, BadArgumentsGiveOneLineOnStderrAndFailure)
{
    TempDir folder;
    fs::create_directory(folder / "full");
    TestSupport::WriteFileBytes(folder / "full/x", "x");
    TestSupport::WriteFileBytes(folder / "text.lpf", "not a part file at all");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"create"},
        {"create", folder / "a.lpf"},
        {"create", folder / "a.lpf", "--name", "A", "--unid", "{not-a-unid}"},
        {"create", folder / "a.lpf", "--name", "A", "--ancestor", "zz"},
        {"create", folder / "a.lpf", "--name", "A", "--param", "novalue"},
        {"create", folder / "a.lpf", "--name", std::string(256, 'n')},
        {"create", folder / "a.lpf", "--name", "A", "--bogus"},
        {"create", folder / "missing/a.lpf", "--name", "A"},
        {"dump"},
        {"dump", folder / "missing.lpf"},
        {"dump", folder / "text.lpf"},
        {"generate", folder / "g"},
        {"generate", folder / "g", "--parts", "ten"},
        {"generate", folder / "g", "--parts", "5", "--depth", "0"},
        {"generate", folder / "full", "--parts", "5"},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& a : args)
            shown += a.substr(0, 40) + " ";
        Result r = RunTool(args, folder);
        EXPECT_NE(r.status, 0) << shown;
        EXPECT_TRUE(r.out.empty()) << shown;
        const std::vector<std::string> lines = Lines(r.err);
        ASSERT_EQ(lines.size(), 1u) << shown << "\n" << r.err;
        EXPECT_EQ(lines[0].rfind("lpf: ", 0), 0u) << lines[0];
    }
    EXPECT_FALSE(fs::exists(folder / "a.lpf"));
}

TEST(LpfTool, OutOfRangeNumbersAreUsageErrorsNamingTheRange)
{
    TempDir folder;
    const std::string target = folder / "g";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--parts", "-5"}, "--parts must be a whole number from 1 to 10000000"},
        {{"--parts", "99999999999999999999"}, "--parts must be a whole number from 1 to 10000000"},
        {{"--parts", "4294967297"}, "--parts must be a whole number from 1 to 10000000"},
        {{"--parts", "0"}, "--parts must be a whole number from 1 to 10000000"},
        {{"--parts", "5", "--seed", "-1"}, "--seed must be a whole number from 0 to 18446744073709551615"},
        {{"--parts", "5", "--seed", "18446744073709551616"}, "--seed must be a whole number from 0 to 18446744073709551615"},
        {{"--parts", "5", "--scripts", "-1"}, "--scripts must be a whole number from 0 to 10000000"},
        {{"--parts", "5", "--others", "1e3"}, "--others must be a whole number from 0 to 10000000"},
        {{"--parts", "5", "--types", "+3"}, "--types must be a whole number from 1 to 10000000"},
        {{"--parts", "5", "--depth", "65"}, "--depth must be a whole number from 1 to 64"},
    };
    for (const auto& [options, message] : cases) {
        std::vector<std::string> args = {"generate", target};
        args.insert(args.end(), options.begin(), options.end());
        Result r = RunTool(args, folder);
        EXPECT_EQ(r.status, 2) << options.back();
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(r.err.rfind("lpf: " + message + ", not '", 0), 0u) << r.err;
        EXPECT_LT(r.err.size(), 120u) << r.err;
        EXPECT_FALSE(fs::exists(target));
    }
    EXPECT_EQ(RunTool({"generate", target, "--parts", "3", "--seed", "18446744073709551615"}, folder).status, 0);
}

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

    // Neither a FIFO, a symbolic link nor (where the test may make one) a
    // device node is replaced by the part file.
    TestSupport::WriteFileBytes(folder / "kept.lpf", "kept");
    fs::create_symlink(folder / "kept.lpf", folder / "link.lpf");
    std::vector<std::string> targets = {fifo, folder / "link.lpf"};
    const std::string device = folder / "full";
    if (::geteuid() == 0 && ::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 7)) == 0)
        targets.push_back(device);
    for (const std::string& target : targets) {
        struct stat before {};
        ASSERT_EQ(::lstat(target.c_str(), &before), 0);
        r = RunTool({"create", target, "--name", "X"}, folder);
        EXPECT_EQ(r.status, 1) << target;
        EXPECT_EQ(r.err.rfind("lpf: cannot write " + target + ": ", 0), 0u) << r.err;
        struct stat after {};
        ASSERT_EQ(::lstat(target.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode) << target;
        EXPECT_EQ(after.st_ino, before.st_ino) << target;
    }
    EXPECT_EQ(ReadFileBytes(folder / "kept.lpf"), "kept");
}

TEST(LpfTool, ErrorsAreNamedWithTheirValueAndDamageIsLocated)
{
    TempDir folder;
    const std::string file = folder / "door.lpf";
    ASSERT_EQ(RunTool(CreateArgs(file), folder).status, 0);
    const std::string bytes = ReadFileBytes(file);

    // A part file cut inside its header.
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
}

TEST(LpfTool, VersionAndEveryCommandHaveHelp)
{
    TempDir folder;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--version"}, {"create", "--help"}, {"create-script", "--help"}, {"dump", "--help"},
             {"generate", "--help"}}) {
        Result r = RunTool(args, folder);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_TRUE(r.err.empty()) << r.err;
        // The version leads its output; a command's help names it.
        const bool version = args.size() == 1;
        const std::size_t at = r.out.find(version ? std::string("lpf ") : "lpf " + args[0]);
        EXPECT_TRUE(version ? at == 0 : at != std::string::npos) << r.out;
    }
}

}  // namespace
