# zlib, minizip and GoogleTest, all from Debian's packages.
# KELVANE_STATIC_DEPS (the release preset) compiles zlib and minizip from the
# same sources into the native program, so that it runs where neither is installed.
option(KELVANE_STATIC_DEPS "Compile zlib and minizip from Debian's sources into the programs" OFF)
if(WIN32 OR KELVANE_STATIC_DEPS)
  # zlib from Debian's zlib source package (fetched with minizip's sources by
  # scripts/fetch-minizip.sh), compiled here rather than taken as Debian's
  # mingw libz.a: the builder's time is almost all deflate at level 9, and
  # this build of the same zlib deflates about 10 % faster under wine (-O2,
  # where the stub is otherwise built for size; UNALIGNED_OK lets the match
  # search compare two bytes at a time, which x86-64 and ARM64 Windows allow).
  # Same version, same output, byte for byte.
  set(ZLIB_SOURCE_DIR ${CMAKE_SOURCE_DIR}/.deps/zlib)
  if(NOT EXISTS ${ZLIB_SOURCE_DIR}/deflate.c)
    message(FATAL_ERROR "zlib sources missing: run scripts/fetch-minizip.sh")
  endif()
  add_library(zlib STATIC ${ZLIB_SOURCE_DIR}/adler32.c ${ZLIB_SOURCE_DIR}/compress.c ${ZLIB_SOURCE_DIR}/crc32.c
                          ${ZLIB_SOURCE_DIR}/deflate.c ${ZLIB_SOURCE_DIR}/infback.c ${ZLIB_SOURCE_DIR}/inffast.c
                          ${ZLIB_SOURCE_DIR}/inflate.c ${ZLIB_SOURCE_DIR}/inftrees.c ${ZLIB_SOURCE_DIR}/trees.c
                          ${ZLIB_SOURCE_DIR}/uncompr.c ${ZLIB_SOURCE_DIR}/zutil.c)
  target_include_directories(zlib SYSTEM PUBLIC ${ZLIB_SOURCE_DIR})
  target_compile_options(zlib PRIVATE -O2 -w)
  target_compile_definitions(zlib PRIVATE UNALIGNED_OK)
  add_library(ZLIB::ZLIB ALIAS zlib)
else()
  find_package(ZLIB REQUIRED)
endif()

if(WIN32 OR KELVANE_FUZZ OR KELVANE_STATIC_DEPS)
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
