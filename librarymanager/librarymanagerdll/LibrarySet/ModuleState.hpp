// The process-wide state of the module, written only by the module functions
// (InitLibraryManager and the table setters). Internal.
#pragma once

#include "LibraryManagerModule.hpp"

namespace LM {

struct ModuleState {
    LibraryManagerCallBacks callBacks;
    LibraryManagerStrings strings;
    FTM::GeneralID firstPartFileType = FTM::UnknownType;
    FTM::GeneralID secondPartFileType = FTM::UnknownType;
    IO::Location scriptCodeCacheFolder;
};

ModuleState& GetModuleState() noexcept;

// Text table entries the module reads.
enum class ModuleString : std::size_t {
    SynchronizationMap = 3,
    FileCountFile = 4,
    FolderSetRoot = 5,
    ScriptCodeCacheFile = 6,
};
const char* GetModuleString(ModuleString entry) noexcept;

// True for the first or the second library part file type of the state.
bool IsLibraryPartFileType(FTM::GeneralID type) noexcept;
// The mapped type: the second library part file type counts as the first.
FTM::GeneralID MapPartFileType(FTM::GeneralID type) noexcept;

}  // namespace LM
