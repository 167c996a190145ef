// The container of compiled script codes and its registry.
#include "PartTable/PscBinCodesContainer.hpp"

#include "Guard.hpp"

#include <memory>
#include <unordered_map>

namespace LM {

PscBinCodesContainer::PscBinCodesContainer(const IO::Location& cacheFolder)
    : folder_(cacheFolder, IO::OnNotFound::Report)
{
}

PscBinCodesContainer::~PscBinCodesContainer() = default;

namespace {

using ContainerMap = std::unordered_map<IO::Location, std::unique_ptr<PscBinCodesContainer>>;

// A function-local static: made on first use, after the foundation's own
// process-wide objects, and so destroyed before them when the module is
// unloaded, while the containers can still use files.
ContainerMap& GetRegistry()
{
    static ContainerMap registry;
    return registry;
}

}  // namespace

PscBinCodesContainer* PscBinCodesContainerRegistry::Obtain(const IO::Location& cacheFolder) noexcept
{
    PscBinCodesContainer* container = nullptr;
    (void)RunGuarded([&] {
        ContainerMap& registry = GetRegistry();
        auto found = registry.find(cacheFolder);
        if (found != registry.end()) {
            container = found->second.get();
            return;
        }
        auto made = std::make_unique<PscBinCodesContainer>(cacheFolder);
        container = registry.emplace(cacheFolder, std::move(made)).first->second.get();
    });
    return container;
}

PscBinCodesContainer* PscBinCodesContainerRegistry::Find(const IO::Location& cacheFolder) noexcept
{
    ContainerMap& registry = GetRegistry();
    auto found = registry.find(cacheFolder);
    return found != registry.end() ? found->second.get() : nullptr;
}

std::size_t PscBinCodesContainerRegistry::GetCount() noexcept
{
    return GetRegistry().size();
}

}  // namespace LM
