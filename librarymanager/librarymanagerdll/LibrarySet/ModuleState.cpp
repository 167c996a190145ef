// The process-wide module state and the exported module functions.
#include "LibrarySet/ModuleState.hpp"

#include <cstring>

namespace LM {

void LibraryManagerStrings::Set(std::size_t index, const char* text) noexcept
{
    if (index >= EntryCount)
        return;
    char* entry = entries[index];
    std::size_t length = text != nullptr ? ::strnlen(text, EntrySize - 1) : 0;
    if (length > 0)
        std::memcpy(entry, text, length);
    // The rest of the field is cleared so that a shorter text leaves no tail
    // of an earlier, longer one behind its terminator.
    std::memset(entry + length, 0, EntrySize - length);
}

const char* LibraryManagerStrings::Get(std::size_t index) const noexcept
{
    return index < EntryCount ? entries[index] : "";
}

ModuleState& GetModuleState() noexcept
{
    // Made on first use, so that it exists before anything that needs it
    // during static initialisation of other parts of the process.
    static ModuleState state;
    return state;
}

const char* GetModuleString(ModuleString entry) noexcept
{
    const LibraryManagerStrings& strings = GetModuleState().strings;
    std::size_t index = static_cast<std::size_t>(entry);
    if (index >= LibraryManagerStrings::EntryCount)
        return "";
    // A block copied in whole may hold a field without a terminator; such an
    // entry is read as its first 255 bytes, from a terminated copy kept per
    // entry (so that two entries can be used side by side).
    static thread_local char bounded[LibraryManagerStrings::EntryCount][LibraryManagerStrings::EntrySize];
    const char* text = strings.entries[index];
    if (std::memchr(text, 0, LibraryManagerStrings::EntrySize) != nullptr)
        return text;
    std::memcpy(bounded[index], text, LibraryManagerStrings::EntrySize - 1);
    bounded[index][LibraryManagerStrings::EntrySize - 1] = '\0';
    return bounded[index];
}

bool IsLibraryPartFileType(FTM::GeneralID type) noexcept
{
    const ModuleState& state = GetModuleState();
    return type == state.firstPartFileType || type == state.secondPartFileType;
}

FTM::GeneralID MapPartFileType(FTM::GeneralID type) noexcept
{
    const ModuleState& state = GetModuleState();
    return type == state.secondPartFileType ? state.firstPartFileType : type;
}

void InitLibraryManager(const LibraryManagerCallBacks& callBacks, const LibraryManagerStrings& strings,
                        const FTM::GeneralID& firstPartFileType, const FTM::GeneralID& secondPartFileType,
                        const IO::Location& scriptCodeCacheFolder)
{
    ModuleState& state = GetModuleState();
    // The location is the only value whose copy can fail; copy it first so
    // that a failure leaves the earlier state whole.
    IO::Location folder(scriptCodeCacheFolder);
    state.callBacks = callBacks;
    std::memcpy(&state.strings, &strings, sizeof(LibraryManagerStrings));
    state.firstPartFileType = firstPartFileType;
    state.secondPartFileType = secondPartFileType;
    state.scriptCodeCacheFolder = std::move(folder);
}

void FreeLibraryManager() {}

void GetLibraryManagerCallBacks(LibraryManagerCallBacks* callBacks)
{
    if (callBacks != nullptr)
        *callBacks = GetModuleState().callBacks;
}

void SetLibraryManagerCallBacks(const LibraryManagerCallBacks& callBacks)
{
    GetModuleState().callBacks = callBacks;
}

void GetLibraryManagerStrings(LibraryManagerStrings* strings)
{
    if (strings != nullptr)
        std::memcpy(strings, &GetModuleState().strings, sizeof(LibraryManagerStrings));
}

void SetLibraryManagerStrings(const LibraryManagerStrings& strings)
{
    std::memcpy(&GetModuleState().strings, &strings, sizeof(LibraryManagerStrings));
}

}  // namespace LM
