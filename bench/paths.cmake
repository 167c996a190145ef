# The path tree under the load of a large library: many paths added and
# deleted, flat below the root and below a type hierarchy.
lm_add_bench(paths SOURCES ${CMAKE_CURRENT_LIST_DIR}/PathsBench.cpp LIBS LibraryManagerObjects)
