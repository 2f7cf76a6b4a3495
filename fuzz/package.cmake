# The package reader over arbitrary bytes after a stub. The reader's and
# minizip's reader sources are compiled in so that libFuzzer's coverage sees
# them; minizip comes from scripts/fetch-minizip.sh's sources.
set(minizip_sources ${CMAKE_SOURCE_DIR}/.deps/zlib/contrib/minizip)
kelvane_add_fuzzer(fuzz_packagereader ${CMAKE_CURRENT_LIST_DIR}/package_reader.cpp
  ${CMAKE_SOURCE_DIR}/package/dataunzip.cpp ${CMAKE_SOURCE_DIR}/package/zipio.cpp
  ${CMAKE_SOURCE_DIR}/package/datamd5.cpp ${CMAKE_SOURCE_DIR}/package/filelist.cpp
  ${CMAKE_SOURCE_DIR}/package/datazip.cpp
  ${minizip_sources}/unzip.c ${minizip_sources}/zip.c ${minizip_sources}/ioapi.c)
target_include_directories(fuzz_packagereader PRIVATE ${CMAKE_SOURCE_DIR} ${minizip_sources})
set_source_files_properties(${minizip_sources}/unzip.c ${minizip_sources}/zip.c ${minizip_sources}/ioapi.c
  PROPERTIES COMPILE_OPTIONS "-w")
target_link_libraries(fuzz_packagereader PRIVATE kelvane_platform kelvane_common ZLIB::ZLIB)
