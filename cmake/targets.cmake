# Helpers for module CMakeLists.txt files.

# remote_library(NAME name [SOURCES ...] [LIBS ...])
# A static library whose public include root is the project's top folder, so
# headers are included by their path: #include "apps/remote/src/doc/model.hpp".
# Without SOURCES it is header-only.
function(remote_library)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_SOURCES)
    add_library(${ARG_NAME} INTERFACE)
    target_include_directories(${ARG_NAME} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${ARG_NAME} INTERFACE ${ARG_LIBS} Threads::Threads)
    return()
  endif()
  add_library(${ARG_NAME} STATIC ${ARG_SOURCES})
  target_include_directories(${ARG_NAME} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${ARG_NAME} PUBLIC ${ARG_LIBS} Threads::Threads)
endfunction()

# remote_test(NAME name SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s] [SERIAL])
# A GoogleTest program; every TEST becomes one ctest test.
function(remote_test)
  cmake_parse_arguments(ARG "SERIAL" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(REMOTE_FUZZ)
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_include_directories(${ARG_NAME} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  set(props TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
  if(ARG_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  # Listing the tests starts the program, which a sanitized build on a busy
  # machine may take longer than the default 5 s to do.
  gtest_discover_tests(${ARG_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES ${props})
endfunction()

# remote_bench(NAME name SOURCES ... [LIBS ...])
# A Google Benchmark program; never run by ctest.
function(remote_bench)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT REMOTE_BENCH)
    return()
  endif()
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_include_directories(${ARG_NAME} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} benchmark::benchmark Threads::Threads)
endfunction()

# remote_fuzz(NAME name SOURCES ... [LIBS ...] [SECONDS n] [CORPUS dir])
# A libFuzzer target, built only with REMOTE_FUZZ; ctest runs it for a bounded time.
function(remote_fuzz)
  cmake_parse_arguments(ARG "" "NAME;SECONDS;CORPUS" "SOURCES;LIBS" ${ARGN})
  if(NOT REMOTE_FUZZ)
    return()
  endif()
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 60)
  endif()
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_include_directories(${ARG_NAME} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} Threads::Threads)
  target_link_options(${ARG_NAME} PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzz_all ${ARG_NAME})
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${ARG_NAME}-corpus)
  set(seed_dirs ${work})
  if(ARG_CORPUS)
    list(APPEND seed_dirs ${ARG_CORPUS})
  endif()
  add_test(NAME ${ARG_NAME}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
      $<TARGET_FILE:${ARG_NAME}> -max_total_time=${ARG_SECONDS} -timeout=10 -rss_limit_mb=2048 ${seed_dirs})
  set_tests_properties(${ARG_NAME} PROPERTIES TIMEOUT 600 LABELS fuzz)
  file(MAKE_DIRECTORY ${work})
endfunction()

if(REMOTE_FUZZ)
  # The fuzz build compiles only what the fuzz targets need.
  add_custom_target(fuzz_all)
endif()
