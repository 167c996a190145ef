#include "Generator.hpp"

#include "Sections.hpp"

#include "LPF/PartFile.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <unordered_set>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace lpftool {

namespace {

// splitmix64: small, fast, and the same sequence on every platform and
// standard library (unlike the std distributions).
class Random {
public:
    explicit Random(std::uint64_t seed) noexcept : state_(seed) {}

    std::uint64_t Next() noexcept
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // A value in [0, n); n > 0.
    std::uint64_t Below(std::uint64_t n) noexcept
    {
        return static_cast<std::uint64_t>((static_cast<unsigned __int128>(Next()) * n) >> 64);
    }
    bool PerMille(std::uint32_t chance) noexcept { return Below(1000) < chance; }

private:
    std::uint64_t state_;
};

KR::GUID RandomGUID(Random& rng) noexcept
{
    const std::uint64_t a = rng.Next();
    const std::uint64_t b = rng.Next();
    KR::GUID g;
    g.data1 = static_cast<std::uint32_t>(a);
    g.data2 = static_cast<std::uint16_t>(a >> 32);
    g.data3 = static_cast<std::uint16_t>(a >> 48);
    for (int i = 0; i < 8; ++i)
        g.data4[i] = static_cast<std::uint8_t>(b >> (8 * i));
    return g;
}

KR::UnID RandomUnID(Random& rng) noexcept
{
    return KR::UnID{RandomGUID(rng), RandomGUID(rng)};
}

constexpr const char* Nouns[] = {"Chair", "Table", "Door", "Window", "Lamp", "Column", "Beam", "Stair",
                                 "Sofa", "Desk", "Shelf", "Sink", "Bath", "Railing", "Skylight", "Bed",
                                 "Cabinet", "Wardrobe", "Truss", "Roof Vent", "Kerb", "Tree", "Sign", "Bench"};
constexpr std::size_t NounCount = sizeof Nouns / sizeof Nouns[0];

// Chances, per thousand parts that do not define a type.
constexpr std::uint32_t RevisionChance = 30;
constexpr std::uint32_t WithoutIdChance = 30;
constexpr std::uint32_t DuplicateIdChance = 10;
constexpr std::uint32_t DuplicateNameChance = 20;
constexpr std::uint32_t UnnamedChance = 10;
constexpr std::uint32_t OtherByteOrderChance = 50;
constexpr std::uint64_t FilesPerFolder = 100;

struct TypeNode {
    KR::UnID id;
    std::vector<KR::UnID> chain;  // its ancestors, root-most first
    bool isTemplate = false;
};

// What later parts may copy from an earlier one.
struct PartRecord {
    KR::UnID id;
    std::uint32_t type;
    bool definesType;
};

bool WriteWhole(const std::filesystem::path& path, const std::string& bytes, std::string* error)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot create " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = "cannot write " + path.string() + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
        *error = "cannot write " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

class Library {
public:
    Library(std::filesystem::path root, const GeneratorOptions& options, GeneratorSummary* summary)
        : root_(std::move(root)), options_(options), rng_(options.seed), summary_(summary)
    {
    }

    bool Write(std::string* error);

private:
    void PlanTypes(std::uint32_t count);
    void PlanFolders(std::uint64_t files);
    std::filesystem::path Place(const std::string& stem, const char* extension);
    bool WritePart(std::uint64_t k, std::string* error);
    bool WriteScript(std::uint64_t k, std::string* error);
    bool WriteOther(std::uint64_t k, std::string* error);
    std::vector<PSC::Parameter> Parameters();
    std::string UniqueName() { return std::string(Nouns[rng_.Below(NounCount)]) + " " + std::to_string(++nameCounter_); }

    std::filesystem::path root_;
    GeneratorOptions options_;
    Random rng_;
    GeneratorSummary* summary_;
    std::vector<TypeNode> types_;
    std::vector<std::string> folders_;
    std::unordered_set<std::string> taken_;
    std::vector<PartRecord> withIds_;
    std::vector<std::string> names_;
    std::uint64_t nameCounter_ = 0;
};

void Library::PlanTypes(std::uint32_t count)
{
    // `depth` levels: roots, and below them types with up to depth - 1
    // ancestors.
    const std::uint32_t depth = std::max<std::uint32_t>(1, options_.depth);
    const std::uint32_t roots = depth == 1 ? count : std::max<std::uint32_t>(1, count / 20);
    types_.resize(count);
    std::vector<std::uint32_t> parent(count, 0);
    for (std::uint32_t i = 0; i < count; ++i) {
        TypeNode& t = types_[i];
        t.id = RandomUnID(rng_);
        if (i < roots) {
            // The first root always, the others now and then.
            t.isTemplate = i == 0 || rng_.PerMille(333);
            summary_->templates += t.isTemplate ? 1 : 0;
            continue;
        }
        // A random earlier type as parent, moved up its own chain until the
        // new type stays within the allowed number of levels.
        std::uint32_t p = static_cast<std::uint32_t>(rng_.Below(i));
        while (types_[p].chain.size() + 1 >= depth && !types_[p].chain.empty())
            p = parent[p];
        parent[i] = p;
        t.chain = types_[p].chain;
        t.chain.push_back(types_[p].id);
    }
}

void Library::PlanFolders(std::uint64_t files)
{
    const std::uint64_t count = std::max<std::uint64_t>(1, (files + FilesPerFolder - 1) / FilesPerFolder);
    const int levels = count <= 12 ? 1 : count <= 144 ? 2 : 3;
    std::uint64_t base = 1;
    while (true) {
        std::uint64_t reach = 1;
        for (int l = 0; l < levels; ++l)
            reach *= base;
        if (reach >= count)
            break;
        ++base;
    }
    static constexpr const char* LevelNames[] = {"Collection", "Category", "Set"};
    std::set<std::string> all;
    for (std::uint64_t f = 0; f < count; ++f) {
        std::uint64_t digits[3] = {};
        std::uint64_t rest = f;
        for (int l = levels - 1; l >= 0; --l) {
            digits[l] = rest % base;
            rest /= base;
        }
        std::string path;
        for (int l = 0; l < levels; ++l) {
            char component[32];
            std::snprintf(component, sizeof component, "%s %02llu", LevelNames[l],
                          static_cast<unsigned long long>(digits[l]));
            if (l > 0)
                path += '/';
            path += component;
            all.insert(path);
        }
        folders_.push_back(path);
    }
    summary_->folders = all.size();
}

// A free file name in a random folder.
std::filesystem::path Library::Place(const std::string& stem, const char* extension)
{
    const std::string& folder = folders_[rng_.Below(folders_.size())];
    std::string relative = folder + "/" + stem + extension;
    for (int n = 2; !taken_.insert(relative).second; ++n)
        relative = folder + "/" + stem + " (" + std::to_string(n) + ")" + extension;
    return root_ / relative;
}

std::vector<PSC::Parameter> Library::Parameters()
{
    std::vector<PSC::Parameter> list(4);
    list[0].name = "A";
    list[0].kind = PSC::Parameter::Kind::Number;
    list[0].number = static_cast<double>(rng_.Below(4000) + 100) / 1000.0;
    list[1].name = "B";
    list[1].kind = PSC::Parameter::Kind::Number;
    list[1].number = static_cast<double>(rng_.Below(4000) + 100) / 1000.0;
    list[2].name = "material";
    list[2].kind = PSC::Parameter::Kind::Text;
    list[2].text = rng_.Below(2) == 0 ? "Oak" : "Steel";
    list[3].name = "visible";
    list[3].kind = PSC::Parameter::Kind::Boolean;
    list[3].boolean = rng_.Below(4) != 0;
    if (rng_.Below(2) == 0) {
        PSC::Parameter count;
        count.name = "count";
        count.kind = PSC::Parameter::Kind::Integer;
        count.integer = static_cast<std::int32_t>(rng_.Below(12)) + 1;
        list.push_back(count);
    }
    return list;
}

bool Library::WritePart(std::uint64_t k, std::string* error)
{
    KR::UnID id{};
    std::string name;
    std::uint32_t type = 0;
    bool definesType = k < types_.size();
    if (definesType) {
        type = static_cast<std::uint32_t>(k);
        id = types_[type].id;
        name = std::string(Nouns[rng_.Below(NounCount)]) + " Type " + std::to_string(k + 1);
        ++summary_->types;
    } else {
        std::uint64_t roll = rng_.Below(1000);
        type = static_cast<std::uint32_t>(rng_.Below(types_.size()));
        if (roll < RevisionChance) {
            const PartRecord& of = withIds_[rng_.Below(withIds_.size())];
            id = KR::UnID{of.id.mainGuid, RandomGUID(rng_)};
            type = of.type;
            definesType = of.definesType;
            name = UniqueName() + " rev";
            ++summary_->revisions;
        } else if ((roll -= RevisionChance) < WithoutIdChance) {
            name = UniqueName();
            ++summary_->withoutId;
        } else if ((roll -= WithoutIdChance) < DuplicateIdChance) {
            const PartRecord& of = withIds_[rng_.Below(withIds_.size())];
            id = of.id;
            type = of.type;
            definesType = of.definesType;
            name = UniqueName();
            ++summary_->duplicateIds;
        } else if ((roll -= DuplicateIdChance) < DuplicateNameChance) {
            id = RandomUnID(rng_);
            name = names_[rng_.Below(names_.size())];
            ++summary_->duplicateNames;
        } else if ((roll -= DuplicateNameChance) < UnnamedChance) {
            id = RandomUnID(rng_);
            ++summary_->unnamed;
        } else {
            id = RandomUnID(rng_);
            name = UniqueName();
            ++summary_->ordinary;
        }
    }
    const TypeNode& node = types_[type];
    std::vector<KR::UnID> ancestors = node.chain;
    if (!definesType)
        ancestors.push_back(node.id);
    const bool isTemplate = definesType && node.isTemplate;
    summary_->deepestHierarchy = std::max<std::uint32_t>(summary_->deepestHierarchy,
                                                         static_cast<std::uint32_t>(ancestors.size()));

    const bool big = rng_.PerMille(OtherByteOrderChance);
    summary_->otherByteOrder += big ? 1 : 0;
    const LPF::ByteOrder order = big ? LPF::ByteOrder::Big : LPF::ByteOrder::Little;
    const LPF::SectionDescriptor descriptor{1, LPF::PlatformOfByteOrder(order), 0};

    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.SetOwnUnID(id);
    writer.SetPlaceable(rng_.PerMille(900));
    writer.SetArchivable(rng_.PerMille(500));
    writer.SetHeaderPlatform(LPF::PlatformOfByteOrder(order));
    if (writer.SetDocumentName(name) != KR::NoError) {
        *error = "document name too long";
        return false;
    }
    const std::string ancestry = BuildAncestrySection(isTemplate, ancestors, order);
    std::string parameters;
    if (BuildParameterSection(Parameters(), order, &parameters) != KR::NoError) {
        *error = "cannot build a parameter section";
        return false;
    }
    writer.AddSection(AncestrySectionType, 0, descriptor, ancestry.data(), ancestry.size());
    writer.AddSection(PSC::ParameterSectionType, 0, descriptor, parameters.data(), parameters.size());

    if (!id.IsNull() && withIds_.size() < (std::size_t{1} << 31))
        withIds_.push_back(PartRecord{id, type, definesType});
    if (!name.empty())
        names_.push_back(name);
    const std::string stem = name.empty() ? "Unnamed " + std::to_string(k + 1) : name;
    ++summary_->parts;
    return WriteWhole(Place(stem, ".lpf"), writer.ToBytes(), error);
}

bool Library::WriteScript(std::uint64_t k, std::string* error)
{
    const std::string name = "Macro " + std::to_string(k + 1);
    const std::string text = "! " + name + "\nresult = " + std::to_string(rng_.Below(1000)) + "\nend\n";
    LPF::PartFileWriter writer(LPF::PartKind::Script);
    writer.SetDocumentName(name);
    writer.AddSection(ScriptSectionType, 0, LPF::SectionDescriptor{1, LPF::NativePlatform, 0}, text.data(),
                      text.size());
    ++summary_->scripts;
    return WriteWhole(Place(name, ".lps"), writer.ToBytes(), error);
}

bool Library::WriteOther(std::uint64_t k, std::string* error)
{
    ++summary_->others;
    if (k % 2 == 0) {
        const std::string text = "Notes " + std::to_string(k + 1) + "\nNothing here is a library part.\n";
        return WriteWhole(Place("Notes " + std::to_string(k + 1), ".txt"), text, error);
    }
    std::string png = "\x89PNG\r\n\x1A\n";
    for (int i = 0; i < 64; ++i)
        png.push_back(static_cast<char>(rng_.Next()));
    return WriteWhole(Place("Preview " + std::to_string(k + 1), ".png"), png, error);
}

bool Library::Write(std::string* error)
{
    const std::uint64_t parts = options_.parts;
    std::uint64_t typeCount = options_.types != 0 ? options_.types : std::clamp<std::uint64_t>(parts / 250, 4, 400);
    typeCount = std::min<std::uint64_t>(typeCount, parts);
    const std::uint64_t scripts = options_.scripts >= 0 ? static_cast<std::uint64_t>(options_.scripts) : parts / 50;
    const std::uint64_t others = options_.others >= 0 ? static_cast<std::uint64_t>(options_.others) : parts / 50;

    PlanTypes(static_cast<std::uint32_t>(typeCount));
    PlanFolders(parts + scripts + others);
    std::error_code ec;
    for (const std::string& folder : folders_) {
        std::filesystem::create_directories(root_ / folder, ec);
        if (ec) {
            *error = "cannot create " + (root_ / folder).string() + ": " + ec.message();
            return false;
        }
    }
    for (std::uint64_t k = 0; k < parts; ++k)
        if (!WritePart(k, error))
            return false;
    for (std::uint64_t k = 0; k < scripts; ++k)
        if (!WriteScript(k, error))
            return false;
    for (std::uint64_t k = 0; k < others; ++k)
        if (!WriteOther(k, error))
            return false;
    return true;
}

}  // namespace

std::string GeneratorSummary::ToString() const
{
    auto item = [](const char* key, std::uint64_t value) { return std::string(key) + "=" + std::to_string(value); };
    return item("parts", parts) + " " + item("types", types) + " " + item("templates", templates) + " " +
           item("ordinary", ordinary) + " " + item("revisions", revisions) + " " + item("without-id", withoutId) +
           " " + item("duplicate-ids", duplicateIds) + " " + item("duplicate-names", duplicateNames) + " " +
           item("unnamed", unnamed) + " " + item("big-endian", otherByteOrder) + " " +
           item("deepest", deepestHierarchy) + " " + item("scripts", scripts) + " " + item("others", others) + " " +
           item("folders", folders);
}

bool GenerateLibrary(const std::string& folder, const GeneratorOptions& options, GeneratorSummary* summary,
                     std::string* error)
{
    std::error_code ec;
    const std::filesystem::path root = std::filesystem::absolute(folder, ec);
    if (ec) {
        *error = folder + ": " + ec.message();
        return false;
    }
    if (std::filesystem::exists(root, ec)) {
        if (!std::filesystem::is_directory(root, ec)) {
            *error = folder + " is not a folder";
            return false;
        }
        if (!std::filesystem::is_empty(root, ec)) {
            *error = folder + " is not empty";
            return false;
        }
    }
    *summary = GeneratorSummary{};
    Library library(root, options, summary);
    return library.Write(error);
}

}  // namespace lpftool
