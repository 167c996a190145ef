# Type hierarchy: ancestry info, its section handler, the path tree and the
# ancestry hierarchy built on it.
target_sources(LibraryManagerObjects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AncestryHierarchy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AncestryInfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AncestrySectionHandler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Paths.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PathsStorage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SiblingIndex.cpp)
