# The package reader over arbitrary bytes after a stub.
kelvane_add_fuzzer(fuzz_packagereader ${CMAKE_CURRENT_LIST_DIR}/package_reader.cpp LIBS kelvane_package)
