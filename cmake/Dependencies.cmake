# zlib, minizip and GoogleTest, all from Debian's packages.
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)  # libz.a, not the import library of zlib1.dll
endif()
find_package(ZLIB REQUIRED)

if(WIN32 OR KELVANE_FUZZ)
  # Debian ships no mingw minizip: build minizip's own sources, fetched from
  # Debian's zlib source package by scripts/fetch-minizip.sh. The fuzz build
  # uses them too, so that the reader's coverage includes minizip's.
  set(MINIZIP_SOURCE_DIR ${CMAKE_SOURCE_DIR}/.deps/zlib/contrib/minizip)
  if(NOT EXISTS ${MINIZIP_SOURCE_DIR}/unzip.c)
    message(FATAL_ERROR "minizip sources missing: run scripts/fetch-minizip.sh")
  endif()
  add_library(minizip STATIC ${MINIZIP_SOURCE_DIR}/ioapi.c ${MINIZIP_SOURCE_DIR}/zip.c ${MINIZIP_SOURCE_DIR}/unzip.c)
  target_include_directories(minizip SYSTEM PUBLIC ${MINIZIP_SOURCE_DIR})
  target_compile_options(minizip PRIVATE -w)
  target_link_libraries(minizip PUBLIC ZLIB::ZLIB)
  add_library(minizip::minizip ALIAS minizip)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  add_library(minizip::minizip ALIAS PkgConfig::MINIZIP)
endif()

# GoogleTest from the sources that libgtest-dev installs, built with the
# project's own flags (sanitizers natively, mingw for Windows).
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
if(WIN32)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
endif()
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
