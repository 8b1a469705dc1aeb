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

# lorveth_test(<name> SOURCES ... [DEPS ...] [LABEL unit|integration|e2e])
# A GoogleTest program whose cases CTest discovers one by one.
function(lorveth_test name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;DEPS" ${ARGN})
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
  gtest_discover_tests(${name} PROPERTIES LABELS ${ARG_LABEL} DISCOVERY_TIMEOUT 60)
endfunction()

include(GoogleTest)
