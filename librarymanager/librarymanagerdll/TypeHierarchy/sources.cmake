# Type hierarchy: ancestry info, its section handler, the path tree and the
# hierarchy of all parts with the library set's operations on it.
target_sources(LibraryManagerObjects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AncestryHierarchy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AncestryHierarchyBuild.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AncestryHierarchyQueries.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AncestryInfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AncestrySectionHandler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LibrarySetHierarchy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Paths.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PathsStorage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SiblingIndex.cpp)
