// lpf: creates, prints and generates library part files.
//
//   lpf create FILE --name NAME [--unid TEXT] [--ancestor TEXT]... [--template]
//              [--placeable] [--archivable] [--param NAME=VALUE]... [--other-byte-order]
//   lpf create-script FILE --name NAME [--text TEXT] [--other-byte-order]
//   lpf dump FILE
//   lpf generate DIR --parts N [--seed S] [--depth D] [--types T] [--scripts K] [--others M]
//
// A bad argument or a file that cannot be read or written gives one line
// "lpf: <message>" on stderr and a non-zero exit status.
#include "Generator.hpp"
#include "Sections.hpp"

#include "IO/Errors.hpp"
#include "KR/Channel.hpp"
#include "KR/Time.hpp"
#include "LPF/PartFile.hpp"
#include "PSC/Parameters.hpp"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>

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

// Words for the error codes that reading and writing part files give.
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
        {KR::ErrMemFull, "out of memory"},
        {KR::ErrEndOfChannel, "unexpected end of data"},
    };
    for (const Entry& e : entries)
        if (e.code == code)
            return e.text;
    return "error " + Hex(static_cast<std::uint32_t>(code), 8);
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
    bool isTemplate = false;
    bool placeable = false;
    bool archivable = false;
    bool otherByteOrder = false;
};

int WritePart(LPF::PartFileWriter& writer, const std::string& file)
{
    KR::ErrorCode err = writer.WriteTo(ToLocation(file));
    if (err != KR::NoError)
        return Fail("cannot write " + file + ": " + ErrorText(err));
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

int CreateScript(const CreateOptions& o)
{
    const std::uint32_t platform = o.otherByteOrder ? LPF::OtherPlatform : LPF::NativePlatform;
    LPF::PartFileWriter writer(LPF::PartKind::Script);
    if (writer.SetDocumentName(o.name) != KR::NoError)
        return Fail("bad --name: " + ErrorText(LPF::ErrNameTooLong), ExitUsage);
    writer.SetHeaderPlatform(platform);
    writer.AddSection(lpftool::ScriptSectionType, 0, LPF::SectionDescriptor{1, platform, 0}, o.text.data(),
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

int Dump(const std::string& file)
{
    KR::ErrorCode err = KR::NoError;
    std::unique_ptr<LPF::PartFile> part = LPF::OpenPartFile(ToLocation(file), &err);
    if (part == nullptr)
        return Fail(file + ": " + ErrorText(err));

    std::ostringstream out;
    const bool big = part->GetHeaderPlatform() == LPF::OtherPlatform;
    const std::uint16_t version = part->GetFormatVersion();
    out << "file: " << part->GetLocation().GetText() << '\n'
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
            << "archivable: " << (archivable ? "yes" : "no") << '\n';
    }
    out << "document name: " << part->GetFullDocumentName() << '\n';
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
        out << "  " << type << ' ' << static_cast<unsigned>(info.subIdent) << " platform "
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
                failure = file + ": section " + type + ": " + ErrorText(err);
            continue;
        }
        std::istringstream lines(text.GetText());
        for (std::string line; std::getline(lines, line);)
            out << "    " << line << '\n';
    }
    std::cout << out.str() << std::flush;
    return failure.empty() ? 0 : Fail(failure);
}

}  // namespace

int main(int argc, char** argv)
{
    PSC::InstallSectionHandler();

    CLI::App app{"Creates, prints and generates library part files.", "lpf"};
    app.require_subcommand(1);

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
    scriptCmd->add_option("--text", script.text, "The script text");
    scriptCmd->add_flag("--other-byte-order", script.otherByteOrder, "Write the header big-endian");

    std::string dumpFile;
    CLI::App* dumpCmd = app.add_subcommand("dump", "Print a part file's header and sections.");
    dumpCmd->add_option("FILE", dumpFile, "The part file to print")->required();

    std::string generateDir;
    lpftool::GeneratorOptions generate;
    CLI::App* generateCmd = app.add_subcommand("generate", "Write a synthetic library of part files.");
    generateCmd->add_option("DIR", generateDir, "Folder to write into (missing or empty)")->required();
    generateCmd->add_option("--parts", generate.parts, "Number of part files")->required();
    generateCmd->add_option("--seed", generate.seed, "Seed of the generator")->capture_default_str();
    generateCmd->add_option("--depth", generate.depth, "Most levels of a type hierarchy")->capture_default_str()
        ->check(CLI::Range(1, 64));
    generateCmd->add_option("--types", generate.types, "Number of type parts (default: from --parts)");
    generateCmd->add_option("--scripts", generate.scripts, "Number of script files (default: parts / 50)")
        ->check(CLI::NonNegativeNumber);
    generateCmd->add_option("--others", generate.others, "Number of other files (default: parts / 50)")
        ->check(CLI::NonNegativeNumber);

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
            return app.exit(e);  // --help
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
        lpftool::GeneratorSummary summary;
        std::string error;
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
