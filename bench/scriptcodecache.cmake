# Writing and loading the compiled script code cache file of a large library.
lm_add_bench(scriptcodecache SOURCES ${CMAKE_CURRENT_LIST_DIR}/ScriptCodeCacheBench.cpp LIBS LibraryManagerObjects)
target_include_directories(scriptcodecache_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests)
