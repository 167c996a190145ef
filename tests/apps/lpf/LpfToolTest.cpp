// Runs the built lpf tool on temporary folders.
#include "Support/Handles.hpp"
#include "Support/TempDir.hpp"

#include "LPF/ByteOrder.hpp"
#include "LPF/PartFile.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

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

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs lpf with `args`, collecting its output in files of `scratch`.
Result RunTool(const std::vector<std::string>& args, const TempDir& scratch)
{
    const std::string outPath = scratch / ".stdout";
    const std::string errPath = scratch / ".stderr";
    pid_t pid = ::fork();
    if (pid == 0) {
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(LPF_TOOL_PATH));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(LPF_TOOL_PATH, argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    Result r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileBytes(outPath), ReadFileBytes(errPath)};
    fs::remove(outPath);
    fs::remove(errPath);
    return r;
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
    // The ancestry section is printed in detail only where its handler is
    // linked in; then it must tell the same count.
    if (dump.out.find("Number of ancestors:") != std::string::npos) {
        EXPECT_TRUE(HasLine(dump.out, "    Number of ancestors: 2")) << dump.out;
    }

    // A script is of the second kind, with its text as its one section.
    const std::string script = folder / "macro.lps";
    ASSERT_EQ(RunTool({"create-script", script, "--name", "Macro", "--text", "print 1\n"}, folder).status, 0);
    dump = RunTool({"dump", script}, folder);
    ASSERT_EQ(dump.status, 0) << dump.err;
    for (const char* line : {"kind: script", "document name: Macro", "  SCRP 0 platform 0x5757 size 8"})
        EXPECT_TRUE(HasLine(dump.out, line)) << "missing: " << line << "\n" << dump.out;
    EXPECT_EQ(dump.out.find("UnID"), std::string::npos);
    LPF::ScriptFile part{IO::Location(script)};
    EXPECT_EQ(SectionBytes(part, LPF::MakeSectionType('S', 'C', 'R', 'P')), "print 1\n");
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
        std::string out;
        for (std::string line : Lines(dump.out)) {
            if (line.rfind("file:", 0) == 0 || line.rfind("byte order:", 0) == 0 || line.rfind("modified:", 0) == 0)
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

TEST(LpfTool, EveryCommandHasHelp)
{
    TempDir folder;
    for (const char* command : {"create", "create-script", "dump", "generate"}) {
        Result r = RunTool({command, "--help"}, folder);
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_NE(r.out.find(std::string("lpf ") + command), std::string::npos) << r.out;
    }
}

}  // namespace
