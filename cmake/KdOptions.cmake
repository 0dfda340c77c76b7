# Warnings and sanitizers as interface targets; every target of ours links kd::warnings.
add_library(kd_warnings INTERFACE)
add_library(kd::warnings ALIAS kd_warnings)
target_compile_options(kd_warnings INTERFACE -Wall -Wextra -Werror -Wshadow)

# Stricter conversions for the byte and word packing code.
add_library(kd_strict_conversions INTERFACE)
add_library(kd::strict_conversions ALIAS kd_strict_conversions)
target_compile_options(kd_strict_conversions INTERFACE -Wconversion -Wsign-conversion)

add_library(kd_sanitizers INTERFACE)
add_library(kd::sanitizers ALIAS kd_sanitizers)
if(KD_SANITIZE STREQUAL "address")
  target_compile_options(kd_sanitizers INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(kd_sanitizers INTERFACE -fsanitize=address,undefined)
elseif(KD_SANITIZE STREQUAL "thread")
  target_compile_options(kd_sanitizers INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(kd_sanitizers INTERFACE -fsanitize=thread)
elseif(NOT KD_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KD_SANITIZE must be '', 'address' or 'thread'")
endif()

add_library(kd_common INTERFACE)
target_link_libraries(kd_common INTERFACE kd_warnings kd_sanitizers)

# kd_library(name SOURCES ... DEPS ...): one static library per source folder.
function(kd_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  string(REGEX REPLACE "^kd_" "" short ${name})
  add_library(kd::${short} ALIAS ${name})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_DEPS} kd_common)
endfunction()

# kd_test(name SOURCES ... DEPS ... [LABELS ...] [ENV ...]): one GoogleTest binary.
function(kd_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;DEPS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest GTest::gmock kd_common Threads::Threads)
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 120)
  endif()
  set(props TIMEOUT ${A_TIMEOUT})
  if(A_LABELS)
    list(APPEND props LABELS "${A_LABELS}")
  endif()
  if(A_ENV)
    list(APPEND props ENVIRONMENT "${A_ENV}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# kd_folder_library(name DEPS ...): the library of a source folder, from every
# .cpp file in it.
function(kd_folder_library name)
  cmake_parse_arguments(A "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(x ${A_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${x})
  endforeach()
  if(NOT sources)
    return()
  endif()
  kd_library(${name} SOURCES ${sources} DEPS ${A_DEPS})
endfunction()
