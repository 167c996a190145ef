target_sources(LibraryManagerObjects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CacheLocations.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LibraryMap.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Synchronize.cpp)
