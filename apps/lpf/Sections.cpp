#include "Sections.hpp"

#include "KR/Memory.hpp"
#include "LPF/Sections.hpp"

namespace lpftool {

std::string BuildAncestrySection(bool isTemplate, const std::vector<KR::UnID>& ancestors, LPF::ByteOrder order)
{
    std::string bytes(32 * (ancestors.size() + 1), '\0');
    auto* p = reinterpret_cast<unsigned char*>(bytes.data());
    p[0] = isTemplate ? 1 : 0;
    LPF::Store32(p + 4, static_cast<std::uint32_t>(ancestors.size()), order);
    for (std::size_t k = 0; k < ancestors.size(); ++k) {
        LPF::StoreGUID(p + 32 * (k + 1), ancestors[k].mainGuid, order);
        LPF::StoreGUID(p + 32 * (k + 1) + 16, ancestors[k].revGuid, order);
    }
    return bytes;
}

KR::ErrorCode BuildParameterSection(const std::vector<PSC::Parameter>& parameters, LPF::ByteOrder order,
                                    std::string* bytes)
{
    KR::ErrorCode err = KR::NoError;
    char** handle = PSC::WriteParameters(parameters, &err);
    if (handle == nullptr)
        return err != KR::NoError ? err : KR::ErrMemFull;
    if (order != LPF::ByteOrder::Little) {
        // The section handler, which the module registers when it is
        // loaded, does the conversion, as for any reader.
        LPF::SectionDescriptor descriptor;
        err = LPF::GetSectionHandler(PSC::ParameterSectionType)
                  ->ConvertToPlatform(&descriptor, handle, LPF::PlatformOfByteOrder(order));
    }
    if (err == KR::NoError)
        bytes->assign(*handle, KR::bmManager.GetHandleSize(handle));
    KR::bmManager.KillHandle(handle);
    return err;
}

}  // namespace lpftool
