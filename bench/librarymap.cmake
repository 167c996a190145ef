# The map of a folder of many files and the sibling searches in it.
lm_add_bench(librarymap SOURCES ${CMAKE_CURRENT_LIST_DIR}/LibraryMapBench.cpp LIBS LibraryManagerObjects)
# The temporary folder of the walk comes from the shared test support.
target_include_directories(librarymap_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests)
