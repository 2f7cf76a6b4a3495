# Compiler settings shared by every target of the project.
add_compile_options(-Wall -Wextra -Wno-unused-parameter)

if(KELVANE_FUZZ)
  # Every library of the project (minizip's sources too) with libFuzzer's
  # coverage instrumentation, so a fuzz target sees all the code it drives;
  # only the fuzz targets themselves link libFuzzer (fuzz/CMakeLists.txt).
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KELVANE_FUZZ needs clang (the fuzz preset)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(KELVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  # UTF-16 entry points, Windows 7 API level (SetDefaultDllDirectories and friends).
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  add_compile_options(-ffunction-sections -fdata-sections)
  # One self-contained file: no runtime DLLs beside the program.
  add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--gc-sections)
endif()

# kelvane_add_gtest(target sources... LIBS libs...): a GoogleTest program.
# Natively every test case is its own CTest test. Under wine one CTest test per
# program keeps the number of wine starts small.
function(kelvane_add_gtest target)
  cmake_parse_arguments(arg "" "" "LIBS;LABELS" ${ARGN})
  add_executable(${target} ${arg_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE ${arg_LIBS} GTest::gtest_main)
  if(WIN32)
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES FIXTURES_REQUIRED wine_session)
    if(arg_LABELS)
      set_tests_properties(${target} PROPERTIES LABELS "${arg_LABELS}")
    endif()
  else()
    include(GoogleTest)
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${arg_LABELS}")
  endif()
endfunction()
