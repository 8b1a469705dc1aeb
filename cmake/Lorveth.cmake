# Shared build rules: warnings, sanitizers and the helpers that every folder uses.

set(LORVETH_WARNINGS -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wcast-qual -Werror)

if(LORVETH_SANITIZE)
  add_compile_options(-fsanitize=${LORVETH_SANITIZE} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${LORVETH_SANITIZE})
endif()

find_package(Threads REQUIRED)

# lorveth_library(<name> SOURCES ... [DEPS ...]): one static, position-independent
# library per folder; its headers are included as "<folder>/<Header>.h".
function(lorveth_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${LORVETH_WARNINGS}>
    $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra -Werror>)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# lorveth_executable(<name> SOURCES ... [DEPS ...])
function(lorveth_executable name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${LORVETH_WARNINGS}>)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
endfunction()

# lorveth_test(<name> SOURCES ... [DEPS ...] [LABEL unit|integration|e2e|package]
#              [ENVIRONMENT VAR=value ...] [RESOURCE_LOCK name])
# A GoogleTest program whose cases CTest discovers one by one; cases that
# share a RESOURCE_LOCK never run at the same time.
function(lorveth_test name)
  cmake_parse_arguments(ARG "" "LABEL;RESOURCE_LOCK" "SOURCES;DEPS;ENVIRONMENT" ${ARGN})
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  find_package(GTest REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_options(${name} PRIVATE ${LORVETH_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main
                        Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    LORVETH_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
    LORVETH_BINARY_DIR="${PROJECT_BINARY_DIR}")
  set(properties LABELS ${ARG_LABEL})
  if(ARG_ENVIRONMENT)
    list(APPEND properties ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  if(ARG_RESOURCE_LOCK)
    list(APPEND properties RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
  endif()
  gtest_discover_tests(${name} PROPERTIES ${properties} DISCOVERY_TIMEOUT 60)
endfunction()

# Environment of test programs that load and unload agent libraries: each
# library keeps the memory of its process-wide parts (trace facility, registry
# connection, COM tables) for the life of the process on purpose (it closes
# their descriptors when it unloads), so unloading it in a test leaves that
# memory behind; leak checking there would only report it.
set(LORVETH_AGENT_LIBRARY_TEST_ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1")

include(GoogleTest)

if(LORVETH_BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "LORVETH_BUILD_FUZZERS needs clang (CC=clang CXX=clang++)")
  endif()
  # Every library is instrumented for coverage; only the fuzz programs link
  # libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# lorveth_fuzzer(<name> SOURCES ... [DEPS ...]): build/fuzz/fuzz_<name>, whose
# seed corpus is fuzz/corpus/<name>/.
function(lorveth_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(fuzz_${name} ${ARG_SOURCES})
  target_include_directories(fuzz_${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(fuzz_${name} PRIVATE ${LORVETH_WARNINGS})
  target_link_libraries(fuzz_${name} PRIVATE ${ARG_DEPS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(fuzz_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzz)
endfunction()

# lorveth_benchmark(<name> SOURCES ... [DEPS ...]): build/bench/bench_<name>.
# Benchmarks print figures; nothing asserts a timing.
function(lorveth_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(bench_${name} ${ARG_SOURCES})
  target_include_directories(bench_${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(bench_${name} PRIVATE ${LORVETH_WARNINGS})
  target_link_libraries(bench_${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
  set_target_properties(bench_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
endfunction()
