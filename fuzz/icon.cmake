# The .ico reader and planner over arbitrary bytes. The reader's sources are
# compiled in so that libFuzzer's coverage sees them.
kelvane_add_fuzzer(fuzz_iconfile ${CMAKE_CURRENT_LIST_DIR}/icon_reader.cpp ${CMAKE_SOURCE_DIR}/resources/iconfile.cpp)
target_include_directories(fuzz_iconfile PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(fuzz_iconfile PRIVATE kelvane_platform)
