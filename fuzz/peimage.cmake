# Finding where a program file's own bytes end (PE headers, the certificate
# table, its padding) over arbitrary bytes.
kelvane_add_fuzzer(fuzz_peimage ${CMAKE_CURRENT_LIST_DIR}/pe_headers.cpp ${CMAKE_SOURCE_DIR}/package/peimage.cpp)
target_include_directories(fuzz_peimage PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(fuzz_peimage PRIVATE kelvane_platform)
