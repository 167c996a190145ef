# Part file reading against the floor of open/read/close (needs the lpf
# generator, which is built with the tools).
if(TARGET LpfGenerator)
  lm_add_bench(partfile_read SOURCES ${CMAKE_CURRENT_LIST_DIR}/PartFileReadBench.cpp LIBS LpfGenerator)
endif()
