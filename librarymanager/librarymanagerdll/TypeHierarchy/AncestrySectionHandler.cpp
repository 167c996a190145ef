#include "TypeHierarchy/AncestrySectionHandler.hpp"

#include "LibraryManagerModule.hpp"

#include "KR/GUID.hpp"
#include "KR/Memory.hpp"
#include "PSC/Parameters.hpp"

#include <cstring>
#include <string>

namespace LM {

namespace {

constexpr std::size_t RecordSize = 32;
constexpr std::size_t CountOffset = 4;
constexpr std::size_t HeaderWords = 7;  // the 32-bit words at offsets 4 .. 28

std::uint32_t ReadCount(const char* block)
{
    std::uint32_t count = 0;
    std::memcpy(&count, block + CountOffset, sizeof count);
    return count;
}

void ReverseHeaderWords(char* block)
{
    for (std::size_t i = 0; i < HeaderWords; ++i) {
        std::uint32_t word = 0;
        std::memcpy(&word, block + CountOffset + 4 * i, sizeof word);
        KR::ivManager.Reverse32(&word);
        std::memcpy(block + CountOffset + 4 * i, &word, sizeof word);
    }
}

void ConvertGuid(char* at)
{
    KR::GUID guid;
    std::memcpy(&guid, at, sizeof guid);
    KR::guidManager.ConvertByteOrder(&guid);
    std::memcpy(at, &guid, sizeof guid);
}

bool IsUsableHandle(char** section)
{
    return section != nullptr && KR::bmManager.IsHandle(section) && *section != nullptr;
}

// The one handler of the module, registered for 'ANCS' while the module is
// loaded, before any other use of it. The parameter section's handler is
// registered at the same moment, so that a part file whose parameters are
// in the other byte order reads in any application without a call of its
// own.
AncestrySectionHandler ancestrySectionHandler;

static_assert(ParameterSectionType == PSC::ParameterSectionType);

struct Registration {
    Registration()
    {
        (void)LPF::InstallSectionHandler(AncestrySectionHandler::SectionType, &ancestrySectionHandler);
        PSC::InstallSectionHandler();
    }
};
const Registration registration;

}  // namespace

KR::ErrorCode AncestrySectionHandler::ConvertToPlatform(LPF::SectionDescriptor* descriptor, char** section,
                                                        std::uint32_t targetPlatform)
{
    if (descriptor == nullptr || !IsUsableHandle(section))
        return KR::ErrParam;
    if (descriptor->platform == targetPlatform)
        return KR::NoError;
    const std::size_t size = KR::bmManager.GetHandleSize(section);
    if (size < RecordSize)
        return ErrDamagedData;
    char* block = *section;
    // The count is read after its own conversion, that is as this platform
    // reads it. That is right for every conversion into this platform's byte
    // order; a conversion out of it passes the size check only for a header
    // without ancestors, and is refused otherwise.
    ReverseHeaderWords(block);
    const std::uint64_t count = ReadCount(block);
    if (RecordSize * (count + 1) != size) {
        ReverseHeaderWords(block);  // a refused block stays as it came
        return ErrDamagedData;
    }
    for (std::uint64_t k = 1; k <= count; ++k) {
        ConvertGuid(block + RecordSize * k);
        ConvertGuid(block + RecordSize * k + sizeof(KR::GUID));
    }
    descriptor->platform = targetPlatform;
    return KR::NoError;
}

KR::ErrorCode AncestrySectionHandler::ConvertToNative(void*, LPF::SectionDescriptor* descriptor, char** section)
{
    return ConvertToPlatform(descriptor, section, LPF::NativePlatform);
}

KR::ErrorCode AncestrySectionHandler::Validate(const LPF::SectionDescriptor*, char**)
{
    return KR::NoError;
}

KR::ErrorCode AncestrySectionHandler::Dump(KR::OChannel& output, const LPF::SectionDescriptor* descriptor,
                                           char** section, bool detailed)
{
    if (descriptor == nullptr || !IsUsableHandle(section))
        return KR::ErrParam;
    LPF::SectionDescriptor local = *descriptor;
    const std::size_t size = KR::bmManager.GetHandleSize(section);
    char** copy = KR::bmManager.NewHandle(size);
    if (copy == nullptr)
        return KR::bmManager.GetLastError();
    std::memcpy(*copy, *section, size);

    KR::ErrorCode err = KR::NoError;
    if (local.platform != LPF::NativePlatform)
        err = ConvertToPlatform(&local, copy, LPF::NativePlatform);
    else if (size < RecordSize || RecordSize * (std::uint64_t{ReadCount(*copy)} + 1) > size)
        err = ErrDamagedData;  // never read past the end of the block

    auto put = [&](KR::ErrorCode result) {
        if (err == KR::NoError)
            err = result;
    };
    if (err == KR::NoError) {
        const std::uint32_t count = ReadCount(*copy);
        put(output.Write("Number of ancestors: "));
        put(output.Write(count));
        put(output.Write("\n"));
        for (std::uint32_t k = 1; detailed && err == KR::NoError && k <= count; ++k) {
            KR::UnID id;
            std::memcpy(&id, *copy + RecordSize * k, sizeof id);
            const std::string text = id.ToString();
            put(output.Write("\t"));
            put(output.Write(text.c_str()));
            put(output.Write("\n"));
        }
    }
    KR::bmManager.KillHandle(copy);
    return err;
}

bool AncestrySectionHandler::CanConvert() const
{
    return true;
}

}  // namespace LM
