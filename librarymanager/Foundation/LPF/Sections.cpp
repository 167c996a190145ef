#include "LPF/Sections.hpp"

#include <unordered_map>

namespace LPF {

ISectionHandler::~ISectionHandler() = default;

void SectionTypeToText(std::uint32_t type, char text[5]) noexcept
{
    for (int i = 0; i < 4; ++i) {
        auto c = static_cast<unsigned char>(type >> (8 * (3 - i)));
        // A byte that would not print stays visible as '?'.
        text[i] = (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    text[4] = '\0';
}

namespace {

struct HandlerRegistry {
    std::unordered_map<std::uint32_t, ISectionHandler*> handlers;
};

// Reached through a function with a local static so that handlers can be
// registered from the static initialisation of another library, whatever
// the order in which the libraries are initialised. Never destroyed, so a
// handler can also be looked up from another library's static destruction.
HandlerRegistry& Registry()
{
    static HandlerRegistry* registry = new HandlerRegistry;
    return *registry;
}

}  // namespace

KR::ErrorCode InstallSectionHandler(std::uint32_t sectionType, ISectionHandler* handler)
{
    if (handler == nullptr)
        return KR::ErrParam;
    HandlerRegistry& registry = Registry();
    registry.handlers[sectionType] = handler;
    return KR::NoError;
}

ISectionHandler* GetSectionHandler(std::uint32_t sectionType) noexcept
{
    HandlerRegistry& registry = Registry();
    auto it = registry.handlers.find(sectionType);
    return it == registry.handlers.end() ? nullptr : it->second;
}

}  // namespace LPF
