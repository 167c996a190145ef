# Type hierarchy: ancestry info, its section handler and the path tree.
target_sources(LibraryManagerObjects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AncestryInfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AncestrySectionHandler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Paths.cpp)
