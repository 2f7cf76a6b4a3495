# The PE resource reader and writer over arbitrary bytes as a stub's image.
kelvane_add_fuzzer(fuzz_peresources ${CMAKE_CURRENT_LIST_DIR}/pe_resources.cpp LIBS kelvane_resources)
