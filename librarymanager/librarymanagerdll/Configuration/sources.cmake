target_sources(LibraryManagerObjects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ActiveLibrariesInfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/InfoBlock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListRecords.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StorableFileTypes.cpp)
