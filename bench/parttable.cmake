lm_add_bench(parttable SOURCES ${CMAKE_CURRENT_LIST_DIR}/PartTableBench.cpp LIBS LibraryManagerObjects)
# The error handler that ignores reports comes from the shared test support.
target_include_directories(parttable_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests)
