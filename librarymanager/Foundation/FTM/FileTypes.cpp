#include "FTM/FileTypes.hpp"

#include <algorithm>
#include <cstring>

namespace FTM {

namespace {

char LowerASCII(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(const std::string& lower, const char* text) noexcept
{
    std::size_t i = 0;
    for (; i < lower.size(); ++i)
        if (text[i] == '\0' || LowerASCII(text[i]) != lower[i])
            return false;
    return text[i] == '\0';
}

struct TypeEntry {
    FileType type;
    std::vector<GroupID> groups;  // groups it was added to directly
};

struct GroupEntry {
    std::string name;
    GroupID parent = RootGroup;
};

// Types are numbered from 1 (index + 1), groups from -2 (-2 - index);
// RootGroup is implicit and holds every type.
struct Registry {
    std::vector<TypeEntry> types;
    std::vector<GroupEntry> groups;

    bool HasType(TypeID id) const noexcept
    {
        return id >= 1 && static_cast<std::size_t>(id) <= types.size();
    }
    bool HasGroup(GroupID id) const noexcept
    {
        return id == RootGroup || (id <= -2 && static_cast<std::size_t>(-2 - static_cast<std::int64_t>(id)) < groups.size());
    }
    const GroupEntry& Group(GroupID id) const noexcept { return groups[static_cast<std::size_t>(-2 - static_cast<std::int64_t>(id))]; }

    // Whether `inner` is `outer` or lies (at any depth) inside it.
    bool IsWithin(GroupID inner, GroupID outer) const noexcept
    {
        if (outer == RootGroup)
            return true;
        for (GroupID g = inner; g != RootGroup; g = Group(g).parent)
            if (g == outer)
                return true;
        return false;
    }

    bool TypeInGroup(TypeID type, GroupID group) const noexcept
    {
        if (!HasType(type) || !HasGroup(group))
            return false;
        if (group == RootGroup)
            return true;
        for (GroupID g : types[static_cast<std::size_t>(type - 1)].groups)
            if (IsWithin(g, group))
                return true;
        return false;
    }
};

// A function-local static, so that types can be registered during the static
// initialisation of another library.
Registry& GetRegistry()
{
    static Registry* registry = new Registry;
    return *registry;
}

const char* ExtensionOf(const IO::Location& location, IO::Name* name)
{
    if (location.GetLastLocalName(name) != KR::NoError)
        return nullptr;
    return name->FindExtension();
}

}  // namespace

KR::ErrorCode FileType::AddExtension(const char* extension)
{
    if (extension == nullptr || *extension == '\0' || std::strpbrk(extension, "./") != nullptr)
        return ErrBadExtension;
    std::string lower(extension);
    std::transform(lower.begin(), lower.end(), lower.begin(), LowerASCII);
    if (std::find(extensions_.begin(), extensions_.end(), lower) == extensions_.end())
        extensions_.push_back(std::move(lower));
    return KR::NoError;
}

bool FileType::IsExtensionIncluded(const char* extension) const noexcept
{
    if (extension == nullptr)
        return false;
    for (const std::string& e : extensions_)
        if (EqualNoCase(e, extension))
            return true;
    return false;
}

TypeID FileTypeManager::AddType(const FileType& type, GroupID group)
{
    Registry& r = GetRegistry();
    if (!r.HasGroup(group))
        return UnknownType;
    TypeEntry entry{type, {}};
    if (group != RootGroup)
        entry.groups.push_back(group);
    r.types.push_back(std::move(entry));
    return static_cast<TypeID>(r.types.size());
}

GroupID FileTypeManager::AddGroup(const char* name, GroupID parent)
{
    Registry& r = GetRegistry();
    if (!r.HasGroup(parent))
        return UnknownType;  // 0: no group was made
    r.groups.push_back(GroupEntry{name != nullptr ? name : "", parent});
    return static_cast<GroupID>(-1 - static_cast<std::int64_t>(r.groups.size()));
}

KR::ErrorCode FileTypeManager::AddTypeToGroup(TypeID type, GroupID group)
{
    Registry& r = GetRegistry();
    if (!r.HasType(type) || !r.HasGroup(group))
        return ErrUnknownID;
    if (group == RootGroup)
        return KR::NoError;  // every type is there already
    std::vector<GroupID>& groups = r.types[static_cast<std::size_t>(type - 1)].groups;
    if (std::find(groups.begin(), groups.end(), group) == groups.end())
        groups.push_back(group);
    return KR::NoError;
}

KR::ErrorCode FileTypeManager::GetType(TypeID id, FileType* type)
{
    if (type == nullptr)
        return KR::ErrParam;
    if (id == UnknownType) {
        *type = FileType("Unknown");  // no extension belongs to it
        return KR::NoError;
    }
    Registry& r = GetRegistry();
    if (!r.HasType(id))
        return ErrUnknownID;
    *type = r.types[static_cast<std::size_t>(id - 1)].type;
    return KR::NoError;
}

bool FileTypeManager::IsTypeInGroup(TypeID type, GroupID group)
{
    Registry& r = GetRegistry();
    return r.TypeInGroup(type, group);
}

TypeID FileTypeManager::SearchForType(const FileType& pattern, GroupID group)
{
    const std::vector<std::string>& wanted = pattern.GetExtensions();
    if (wanted.empty())
        return UnknownType;  // an empty pattern names no type
    Registry& r = GetRegistry();
    for (std::size_t i = 0; i < r.types.size(); ++i) {
        const auto id = static_cast<TypeID>(i + 1);
        if (!r.TypeInGroup(id, group))
            continue;
        const FileType& candidate = r.types[i].type;
        if (std::all_of(wanted.begin(), wanted.end(),
                        [&](const std::string& e) { return candidate.IsExtensionIncluded(e.c_str()); }))
            return id;
    }
    return UnknownType;
}

TypeID FileTypeManager::GetTypeOf(const IO::Location& location, GroupID group)
{
    IO::Name name;
    const char* extension = ExtensionOf(location, &name);
    if (extension == nullptr)
        return UnknownType;
    Registry& r = GetRegistry();
    for (std::size_t i = 0; i < r.types.size(); ++i) {
        const auto id = static_cast<TypeID>(i + 1);
        if (r.types[i].type.IsExtensionIncluded(extension) && r.TypeInGroup(id, group))
            return id;
    }
    return UnknownType;
}

bool FileTypeManager::Match(const IO::Location& location, GeneralID id, GroupID group)
{
    const TypeID type = GetTypeOf(location, group);
    if (!IsGroup(id))
        return type == id;
    return type != UnknownType && IsTypeInGroup(type, id);
}

}  // namespace FTM
