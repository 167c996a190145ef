// LibraryManager: the module's public interface in one include.
#pragma once

#include "AncestryHierarchy.hpp"
#include "AncestryInfo.hpp"
#include "ILibraryErrorHandler.hpp"
#include "LibraryManagerModule.hpp"
#include "LibrarySet.hpp"
#include "LibrarySet/FolderSet.hpp"
#include "LibrarySetObserver.hpp"
#include "Paths.hpp"
#include "PscBinCodes.hpp"
#include "SectionTypes.hpp"
#include "TypeHierarchyExporter.hpp"
