# The .ico reader and the icon plan over arbitrary bytes.
kelvane_add_fuzzer(fuzz_iconfile ${CMAKE_CURRENT_LIST_DIR}/icon_reader.cpp LIBS kelvane_resources)
