// lpf: creates, prints and generates library part files.
//
//   lpf create FILE --name NAME [--unid TEXT] [--ancestor TEXT]... [--template]
//              [--placeable] [--archivable] [--param NAME=VALUE]... [--other-byte-order]
//   lpf create-script FILE --name NAME [--text TEXT | --text-file FILE|-] [--other-byte-order]
//   lpf dump FILE
//   lpf generate DIR --parts N [--seed S] [--depth D] [--types T] [--scripts K] [--others M]
//
// A bad argument gives one line "lpf: <message>" on stderr and exit status 2;
// a file that cannot be read or written gives such a line and status 1.
// Errors are printed by name and decimal value: "unreadable block (-7003)".
#include "Generator.hpp"
#include "Sections.hpp"

#include "IO/Errors.hpp"
#include "KR/Channel.hpp"
#include "KR/Memory.hpp"
#include "KR/Time.hpp"
#include "LPF/PartFile.hpp"
#include "PSC/Parameters.hpp"

#include "SectionTypes.hpp"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <optional>
#include <sstream>
#include <tuple>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

int Fail(const std::string& message, int status = ExitFailure)
{
    std::cerr << "lpf: " << message << '\n';
    return status;
}

std::string Hex(std::uint32_t value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// The name and decimal value of an error code: "unreadable block (-7003)".
std::string ErrorText(KR::ErrorCode code)
{
    struct Entry {
        KR::ErrorCode code;
        const char* text;
    };
    static const Entry entries[] = {
        {LPF::ErrNotPartFile, "not a part file"},
        {LPF::ErrUnsupportedVersion, "unsupported part file version"},
        {LPF::ErrDamaged, "damaged part file"},
        {LPF::ErrSectionNotFound, "no such section"},
        {LPF::ErrNoHandler, "section in the other byte order and no handler to convert it"},
        {LPF::ErrWrongKind, "wrong kind of part file"},
        {LPF::ErrChanged, "the file changed while it was read"},
        {LPF::ErrNoName, "no document name"},
        {LPF::ErrNameTooLong, "document name longer than 255 bytes"},
        {PSC::ErrBadSection, "damaged parameter section"},
        {PSC::ErrBadParameter, "bad parameter"},
        {IO::ErrBadLocation, "bad location"},
        {IO::ErrNotFound, "not found"},
        {IO::ErrAccessDenied, "access denied"},
        {IO::ErrAlreadyExists, "already exists"},
        {IO::ErrNotAFolder, "not a folder"},
        {IO::ErrNotAFile, "not a file"},
        {IO::ErrReadOnly, "read-only file system"},
        {IO::ErrDiskFull, "disk full"},
        {IO::ErrSystem, "system error"},
        {IO::ErrDamagedArchive, "damaged archive"},
        {IO::ErrTooLarge, "too large"},
        {IO::ErrNotSupported, "not supported by this reader"},
        {KR::ErrMemFull, "out of memory"},
        {KR::ErrParam, "missing or bad argument"},
        {KR::ErrNilHandle, "no data"},
        {KR::ErrBadHandle, "not a memory block"},
        {KR::ErrEndOfChannel, "unexpected end of data"},
        {KR::ErrBadFormat, "unexpected data"},
        {-7003, "unreadable block"},
    };
    const std::string value = " (" + std::to_string(code) + ")";
    for (const Entry& e : entries)
        if (e.code == code)
            return e.text + value;
    return "error" + value;
}

// `text` with every control character written as an escape (\n, \t, \r,
// \xHH), so that no name or value can start a line of its own or reach the
// terminal. What the tool prints itself has its backslashes doubled too, so
// that no escape can be faked. A section handler's lines keep their
// backslashes (the handler escapes its own texts) and the tabs that indent
// them.
enum class Source { Tool, Handler };

std::string Printable(std::string_view text, Source source = Source::Tool)
{
    const bool backslashes = source == Source::Tool;
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\' && backslashes) {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t' && source == Source::Handler) {
            out += c;
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

// Whether `path` is a regular file, found without blocking: a FIFO or a
// device is opened without waiting for a writer and then refused. A path
// that cannot be opened is left to the reader, which reports why.
bool RefuseIfNotRegular(const std::string& path, std::string* error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (regular)
        return false;
    *error = Printable(path) + ": not a regular file";
    return true;
}

// What stands at `path` where the file system refused to replace it: the
// file replace helper writes only over a regular file or nothing, and this
// only names what it found for the message.
std::string WhatIsThere(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return ErrorText(IO::ErrNotAFile);
    return S_ISLNK(st.st_mode) ? "a symbolic link" : S_ISDIR(st.st_mode) ? "a folder" : "not a regular file";
}

// A whole number in decimal digits, from `min` to `max`; anything else
// (a sign, a fraction, a number out of range) is refused with a usage error
// that names the range.
bool ParseNumber(const std::string& text, const char* option, std::uint64_t min, std::uint64_t max,
                 std::uint64_t* value, std::string* error)
{
    std::uint64_t parsed = 0;
    const char* last = text.data() + text.size();
    const auto r = std::from_chars(text.data(), last, parsed);
    if (text.empty() || r.ec != std::errc() || r.ptr != last || parsed < min || parsed > max) {
        *error = std::string(option) + " must be a whole number from " + std::to_string(min) + " to " +
                 std::to_string(max) + ", not '" + Printable(text.substr(0, 40)) + "'";
        return false;
    }
    *value = parsed;
    return true;
}

IO::Location ToLocation(const std::string& path)
{
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return IO::Location(ec ? path : absolute.lexically_normal().string());
}

bool ParseUnID(const std::string& text, const char* option, KR::UnID* id, std::string* error)
{
    if (KR::UnID::FromString(text.c_str(), id) != KR::NoError) {
        *error = std::string("bad ") + option + " value '" + text + "' (expected {GUID}-{GUID})";
        return false;
    }
    return true;
}

// NAME=VALUE: an integer, a number, true or false, or else a text.
bool ParseParameter(const std::string& argument, PSC::Parameter* p, std::string* error)
{
    const std::size_t equals = argument.find('=');
    if (equals == std::string::npos || equals == 0 || equals > PSC::MaxParameterNameLength) {
        *error = "bad --param '" + argument + "' (expected NAME=VALUE, NAME of 1 to 31 bytes)";
        return false;
    }
    p->name = argument.substr(0, equals);
    const std::string value = argument.substr(equals + 1);
    const char* first = value.data();
    const char* last = value.data() + value.size();
    std::int32_t integer = 0;
    double number = 0.0;
    if (auto r = std::from_chars(first, last, integer); !value.empty() && r.ec == std::errc() && r.ptr == last) {
        p->kind = PSC::Parameter::Kind::Integer;
        p->integer = integer;
    } else if (auto r2 = std::from_chars(first, last, number);
               !value.empty() && r2.ec == std::errc() && r2.ptr == last && std::isfinite(number)) {
        p->kind = PSC::Parameter::Kind::Number;
        p->number = number;
    } else if (value == "true" || value == "false") {
        p->kind = PSC::Parameter::Kind::Boolean;
        p->boolean = value == "true";
    } else {
        p->kind = PSC::Parameter::Kind::Text;
        p->text = value;
    }
    return true;
}

struct CreateOptions {
    std::string file;
    std::string name;
    std::string unid;
    std::vector<std::string> ancestors;
    std::vector<std::string> parameters;
    std::string text = "! script\nend\n";
    std::string textFile;  // read the text from this file, "-" for standard input
    bool isTemplate = false;
    bool placeable = false;
    bool archivable = false;
    bool otherByteOrder = false;
};

int WritePart(LPF::PartFileWriter& writer, const std::string& file)
{
    KR::ErrorCode err = writer.WriteTo(ToLocation(file));
    if (err != KR::NoError)
        return Fail("cannot write " + Printable(file) + ": " +
                    (err == IO::ErrNotAFile ? WhatIsThere(file) : ErrorText(err)));
    return 0;
}

int Create(const CreateOptions& o)
{
    std::string error;
    KR::UnID own{};
    if (!o.unid.empty() && !ParseUnID(o.unid, "--unid", &own, &error))
        return Fail(error, ExitUsage);
    std::vector<KR::UnID> ancestors;
    for (const std::string& text : o.ancestors) {
        KR::UnID id{};
        if (!ParseUnID(text, "--ancestor", &id, &error))
            return Fail(error, ExitUsage);
        ancestors.push_back(id);
    }
    std::vector<PSC::Parameter> parameters;
    for (const std::string& text : o.parameters) {
        PSC::Parameter p;
        if (!ParseParameter(text, &p, &error))
            return Fail(error, ExitUsage);
        parameters.push_back(p);
    }

    const LPF::ByteOrder order = o.otherByteOrder ? LPF::ByteOrder::Big : LPF::ByteOrder::Little;
    const std::uint32_t platform = LPF::PlatformOfByteOrder(order);
    const LPF::SectionDescriptor descriptor{1, platform, 0};
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    if (writer.SetDocumentName(o.name) != KR::NoError)
        return Fail("bad --name: " + ErrorText(LPF::ErrNameTooLong), ExitUsage);
    writer.SetOwnUnID(own);
    writer.SetPlaceable(o.placeable);
    writer.SetArchivable(o.archivable);
    writer.SetHeaderPlatform(platform);
    if (!ancestors.empty() || o.isTemplate) {
        // First, so that it comes with the first read of the file.
        const std::string bytes = lpftool::BuildAncestrySection(o.isTemplate, ancestors, order);
        writer.AddSection(lpftool::AncestrySectionType, 0, descriptor, bytes.data(), bytes.size());
    }
    if (!parameters.empty()) {
        std::string bytes;
        if (KR::ErrorCode err = lpftool::BuildParameterSection(parameters, order, &bytes); err != KR::NoError)
            return Fail("bad --param: " + ErrorText(err), ExitUsage);
        writer.AddSection(PSC::ParameterSectionType, 0, descriptor, bytes.data(), bytes.size());
    }
    return WritePart(writer, o.file);
}

// The script text of --text-file: a regular file, or standard input for "-".
bool ReadScriptText(const std::string& file, std::string* text, std::string* error)
{
    if (file == "-") {
        text->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        if (std::cin.bad()) {
            *error = "cannot read the script from standard input";
            return false;
        }
        return true;
    }
    if (RefuseIfNotRegular(file, error))
        return false;
    std::ifstream in(file, std::ios::binary);
    if (in)
        text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        *error = "cannot read " + Printable(file) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

int CreateScript(CreateOptions o)
{
    if (!o.textFile.empty()) {
        std::string error;
        if (!ReadScriptText(o.textFile, &o.text, &error))
            return Fail(error);
    }
    const std::uint32_t platform = o.otherByteOrder ? LPF::OtherPlatform : LPF::NativePlatform;
    LPF::PartFileWriter writer(LPF::PartKind::Script);
    if (writer.SetDocumentName(o.name) != KR::NoError)
        return Fail("bad --name: " + ErrorText(LPF::ErrNameTooLong), ExitUsage);
    writer.SetHeaderPlatform(platform);
    writer.AddSection(LM::ScriptSectionType, 0, LPF::SectionDescriptor{1, platform, 0}, o.text.data(),
                      o.text.size());
    return WritePart(writer, o.file);
}

std::string IsoTime(std::int32_t time)
{
    KR::DateTimeRecord r;
    KR::dateTimeManager.Split(time, &r);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", r.year, r.month, r.day, r.hour, r.minute,
                  r.second);
    return text;
}

// Opens a part file of either kind. A file that cannot be read gives the
// error's name and value, and for a damaged file which part of it is wrong.
std::unique_ptr<LPF::PartFile> OpenPart(const std::string& file, std::string* error)
{
    const IO::Location location = ToLocation(file);
    try {
        try {
            return std::make_unique<LPF::SymbolFile>(location);
        } catch (const LPF::PartFileException& e) {
            if (e.GetID() != LPF::ErrWrongKind)
                throw;
            return std::make_unique<LPF::ScriptFile>(location);
        }
    } catch (const KR::KRException& e) {
        *error = Printable(file) + ": " + ErrorText(e.GetID());
        // What is wrong, without the location that the message starts with.
        std::string what = e.GetMessage();
        if (const std::string prefix = location.GetText() + ": "; what.rfind(prefix, 0) == 0)
            what.erase(0, prefix.size());
        if (e.GetID() == LPF::ErrDamaged && !what.empty())
            *error += ": " + Printable(what);
    }
    return nullptr;
}

// The template flag of a part: byte 0 of its ancestry section, which the
// section's handler has put into this machine's byte order.
std::string TemplateFlag(LPF::PartFile& part)
{
    if (!part.HasSection(LM::AncestrySectionType, 0))
        return "no";
    char** data = nullptr;
    if (part.GetSectionDataRef(LM::AncestrySectionType, 0, &data) != KR::NoError || data == nullptr ||
        KR::bmManager.GetHandleSize(data) < 1)
        return "unknown";
    return (*data)[0] != 0 ? "yes" : "no";
}

int Dump(const std::string& file)
{
    KR::ErrorCode err = KR::NoError;
    std::string error;
    if (RefuseIfNotRegular(file, &error))
        return Fail(error);
    std::unique_ptr<LPF::PartFile> part = OpenPart(file, &error);
    if (part == nullptr)
        return Fail(error);

    std::ostringstream out;
    const bool big = part->GetHeaderPlatform() == LPF::OtherPlatform;
    const std::uint16_t version = part->GetFormatVersion();
    out << "file: " << Printable(part->GetLocation().GetText()) << '\n'
        << "kind: " << (part->GetKind() == LPF::PartKind::Symbol ? "symbol" : "script") << '\n'
        << "byte order: " << (big ? "big-endian" : "little-endian") << " ("
        << Hex(part->GetHeaderPlatform(), 4) << ")\n"
        << "format version: " << (version >> 8) << '.' << (version & 0xFF) << '\n';
    if (auto* symbol = dynamic_cast<LPF::SymbolFile*>(part.get())) {
        KR::UnID id{};
        bool placeable = false, archivable = false;
        symbol->GetOwnUnID(&id);
        symbol->IsPlaceable(&placeable);
        symbol->IsArchivable(&archivable);
        out << "UnID: " << id.ToString() << '\n'
            << "placeable: " << (placeable ? "yes" : "no") << '\n'
            << "archivable: " << (archivable ? "yes" : "no") << '\n'
            << "template: " << TemplateFlag(*symbol) << '\n';
    }
    out << "document name: " << Printable(part->GetFullDocumentName()) << '\n';
    std::int32_t time = 0;
    if (part->GetModificationTime(&time) == KR::NoError)
        out << "modified: " << IsoTime(time) << '\n';
    out << "sections: " << part->GetSectionCount() << '\n';

    std::string failure;
    for (std::uint32_t i = 0; i < part->GetSectionCount(); ++i) {
        LPF::SectionInfo info;
        part->GetSectionInfo(i, &info);
        char type[5];
        LPF::SectionTypeToText(info.type, type);
        out << "  " << Printable(type) << ' ' << static_cast<unsigned>(info.subIdent) << " platform "
            << Hex(info.descriptor.platform, 4) << " size " << info.size << '\n';
        LPF::ISectionHandler* handler = LPF::GetSectionHandler(info.type);
        if (handler == nullptr)
            continue;
        char** data = nullptr;
        LPF::SectionDescriptor descriptor;
        err = part->GetSectionDataRef(info.type, info.subIdent, &data);
        if (err == KR::NoError)
            err = part->GetSectionDescriptor(info.type, info.subIdent, &descriptor);
        KR::StringOChannel text;
        if (err == KR::NoError)
            err = handler->Dump(text, &descriptor, data, true);
        if (err != KR::NoError) {
            out << "    (cannot read: " << ErrorText(err) << ")\n";
            if (failure.empty())
                failure = Printable(file) + ": section " + Printable(type) + ": " + ErrorText(err);
            continue;
        }
        std::istringstream lines(text.GetText());
        for (std::string line; std::getline(lines, line);)
            out << "    " << Printable(line, Source::Handler) << '\n';
    }
    std::cout << out.str() << std::flush;
    return failure.empty() ? 0 : Fail(failure);
}

// The numbers of `generate`, as typed; checked against their ranges after
// parsing, so that a sign or an overflow is refused rather than wrapped.
struct GenerateNumbers {
    std::string parts, seed, depth = "5", types, scripts, others;
};

constexpr std::uint64_t MostFiles = 10'000'000;

bool CheckGenerateNumbers(const GenerateNumbers& n, lpftool::GeneratorOptions* o, std::string* error)
{
    std::uint64_t value = 0;
    if (!ParseNumber(n.parts, "--parts", 1, MostFiles, &o->parts, error))
        return false;
    if (!n.seed.empty() &&
        !ParseNumber(n.seed, "--seed", 0, std::numeric_limits<std::uint64_t>::max(), &o->seed, error))
        return false;
    if (!ParseNumber(n.depth, "--depth", 1, 64, &value, error))
        return false;
    o->depth = static_cast<std::uint32_t>(value);
    if (!n.types.empty()) {
        if (!ParseNumber(n.types, "--types", 1, MostFiles, &value, error))
            return false;
        o->types = static_cast<std::uint32_t>(value);
    }
    for (const auto& [text, option, field] : {std::tuple{&n.scripts, "--scripts", &o->scripts},
                                              std::tuple{&n.others, "--others", &o->others}}) {
        if (text->empty())
            continue;
        if (!ParseNumber(*text, option, 0, MostFiles, &value, error))
            return false;
        *field = static_cast<std::int64_t>(value);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    // The module registers its section handlers (ancestry, parameters) when
    // it is loaded; the tool relies on that like any application.
    CLI::App app{"Creates, prints and generates library part files.", "lpf"};
    app.require_subcommand(0, 1);
    app.set_version_flag("--version", std::string("lpf ") + LPF_TOOL_VERSION);

    CreateOptions create;
    CLI::App* createCmd = app.add_subcommand("create", "Write a part file of the first kind (a symbol).");
    createCmd->add_option("FILE", create.file, "The part file to write")->required();
    createCmd->add_option("--name", create.name, "Document name (at most 255 bytes)")->required();
    createCmd->add_option("--unid", create.unid, "Own identifier {main GUID}-{revision GUID}; null when left out");
    createCmd->add_option("--ancestor", create.ancestors, "An ancestor's identifier, root-most first (repeatable)");
    createCmd->add_flag("--template", create.isTemplate, "Mark the part as a template in its ancestry section");
    createCmd->add_flag("--placeable", create.placeable, "Mark the part placeable");
    createCmd->add_flag("--archivable", create.archivable, "Mark the part archivable");
    createCmd->add_option("--param", create.parameters,
                          "A parameter NAME=VALUE: integer, number, true/false, else text (repeatable)");
    createCmd->add_flag("--other-byte-order", create.otherByteOrder, "Write header and sections big-endian");

    CreateOptions script;
    CLI::App* scriptCmd = app.add_subcommand("create-script", "Write a part file of the second kind (a script).");
    scriptCmd->add_option("FILE", script.file, "The part file to write")->required();
    scriptCmd->add_option("--name", script.name, "Document name (at most 255 bytes)")->required();
    CLI::Option* textOption = scriptCmd->add_option("--text", script.text, "The script text");
    scriptCmd->add_option("--text-file", script.textFile, "Read the script text from FILE, or standard input for -")
        ->excludes(textOption);
    scriptCmd->add_flag("--other-byte-order", script.otherByteOrder, "Write the header big-endian");

    std::string dumpFile;
    CLI::App* dumpCmd = app.add_subcommand("dump", "Print a part file's header and sections.");
    dumpCmd->add_option("FILE", dumpFile, "The part file to print")->required();

    std::string generateDir;
    lpftool::GeneratorOptions generate;
    GenerateNumbers numbers;
    CLI::App* generateCmd = app.add_subcommand("generate", "Write a synthetic library of part files.");
    generateCmd->add_option("DIR", generateDir, "Folder to write into (missing or empty)")->required();
    generateCmd->add_option("--parts", numbers.parts, "Number of part files, 1 to 10000000")->required();
    generateCmd->add_option("--seed", numbers.seed, "Seed of the generator, 0 to 18446744073709551615 (default: 1)");
    generateCmd->add_option("--depth", numbers.depth, "Most levels of a type hierarchy, 1 to 64")
        ->capture_default_str();
    generateCmd->add_option("--types", numbers.types, "Number of type parts, 1 to 10000000 (default: from --parts)");
    generateCmd->add_option("--scripts", numbers.scripts, "Number of script files, 0 to 10000000 (default: parts / 50)");
    generateCmd->add_option("--others", numbers.others, "Number of other files, 0 to 10000000 (default: parts / 50)");

    // CLI11 would call an unknown command a missing one.
    if (argc > 1 && argv[1][0] != '-' &&
        !(createCmd->check_name(argv[1]) || scriptCmd->check_name(argv[1]) || dumpCmd->check_name(argv[1]) ||
          generateCmd->check_name(argv[1])))
        return Fail(std::string("unknown command '") + argv[1] + "' (create, create-script, dump, generate)",
                    ExitUsage);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);  // --help, --version
        // One line, whatever CLI11 would add.
        std::string message = e.what();
        if (auto nl = message.find('\n'); nl != std::string::npos)
            message.resize(nl);
        return Fail(message, ExitUsage);
    }

    try {
        if (createCmd->parsed())
            return Create(create);
        if (scriptCmd->parsed())
            return CreateScript(script);
        if (dumpCmd->parsed())
            return Dump(dumpFile);
        std::string error;
        if (!generateCmd->parsed())
            return Fail("a command is required (create, create-script, dump, generate); --help tells more",
                        ExitUsage);
        if (!CheckGenerateNumbers(numbers, &generate, &error))
            return Fail(error, ExitUsage);
        lpftool::GeneratorSummary summary;
        if (!lpftool::GenerateLibrary(generateDir, generate, &summary, &error))
            return Fail(error);
        std::cout << summary.ToString() << '\n';
        return 0;
    } catch (const KR::KRException& e) {
        return Fail(e.GetMessage());
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
