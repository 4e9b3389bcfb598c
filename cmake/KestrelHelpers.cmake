# kestrel_library(NAME SOURCES... DEPENDS libs...)
# One static library per subsystem folder; its public headers are reached as
# "folder/header.h" from src/.
function(kestrel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
endfunction()

# kestrel_test(NAME SOURCES... DEPENDS libs...)
function(kestrel_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/tests")
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "KESTREL_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# kestrel_fuzzer(NAME SOURCE DEPENDS libs... CORPUS dir)
# Built as a libFuzzer program with clang (KESTREL_LIBFUZZER), otherwise with a
# small driver that replays the committed corpus; CTest runs the replay.
function(kestrel_fuzzer name)
  cmake_parse_arguments(ARG "" "SOURCE;CORPUS" "DEPENDS" ${ARGN})
  add_executable(${name} ${ARG_SOURCE})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS})
  if(KESTREL_LIBFUZZER)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_link_libraries(${name} PRIVATE kestrel_fuzz_replay)
    if(KESTREL_BUILD_TESTS)
      add_test(NAME fuzz_replay.${name} COMMAND ${name} "${ARG_CORPUS}")
    endif()
  endif()
endfunction()
