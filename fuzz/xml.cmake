# Parse-and-edit over arbitrary text, and text files read from arbitrary bytes.
kelvane_add_fuzzer(fuzz_xmlparse ${CMAKE_CURRENT_SOURCE_DIR}/xml_parse.cpp)
target_link_libraries(fuzz_xmlparse PRIVATE kelvane_xml)
kelvane_add_fuzzer(fuzz_xmltextfile ${CMAKE_CURRENT_SOURCE_DIR}/xml_textfile.cpp)
target_link_libraries(fuzz_xmltextfile PRIVATE kelvane_xml)
