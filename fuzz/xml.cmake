# Parse-and-edit over arbitrary text, and text files read from arbitrary bytes.
kelvane_add_fuzzer(fuzz_xmlparse ${CMAKE_CURRENT_LIST_DIR}/xml_parse.cpp LIBS kelvane_xml)
kelvane_add_fuzzer(fuzz_xmltextfile ${CMAKE_CURRENT_LIST_DIR}/xml_textfile.cpp LIBS kelvane_xml)
