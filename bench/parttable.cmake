lm_add_bench(parttable SOURCES ${CMAKE_CURRENT_LIST_DIR}/PartTableBench.cpp LIBS LibraryManagerObjects)
