# The shared folder of test fixtures beside the checkout: ZNTV_SHARED_DIR when it is given and there, else the
# first "shared" holding "fixtures" from the source tree upwards; empty when there is none. A
# checkout of its own then still builds and passes, with what needs the shared recordings skipped.
function(zntv_find_shared_dir out)
  if(ZNTV_SHARED_DIR AND IS_DIRECTORY "${ZNTV_SHARED_DIR}")
    set(${out} "${ZNTV_SHARED_DIR}" PARENT_SCOPE)
    return()
  endif()
  set(dir "${PROJECT_SOURCE_DIR}")
  foreach(level RANGE 64)  # up to the root, which is its own parent
    if(IS_DIRECTORY "${dir}/shared/fixtures")
      set(${out} "${dir}/shared" PARENT_SCOPE)
      return()
    endif()
    get_filename_component(parent "${dir}" DIRECTORY)
    if(parent STREQUAL dir)
      break()
    endif()
    set(dir "${parent}")
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()
zntv_find_shared_dir(ZNTV_SHARED_DIR_FOUND)

# One static library per source folder, its sources found by glob so that new files need no list edits.
# Subfolders are taken in only when named in SUBDIRS (a subfolder may be a library of its own).
function(zntv_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;SUBDIRS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(sub ${ARG_SUBDIRS})
    file(GLOB_RECURSE subsrcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${sub}/*.cpp)
    list(APPEND srcs ${subsrcs})
  endforeach()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# The suites parse the same large headers in every file (GoogleTest and GoogleMock, JSON, fmt): with clang (the
# sanitizer tree of scripts/test) each suite precompiles them once, which saves a fifth of its compile time. Not
# with g++, whose precompiled headers cost more to make than they save here (and make g++ 12 warn wrongly about
# std::string's bounds), nor under a compiler launcher such as ccache, which compiles anything that uses a
# precompiled header anew every time.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(zntv_test_pch_default ON)
else()
  set(zntv_test_pch_default OFF)
endif()
option(ZNTV_TEST_PCH "Precompile the headers every test file includes" ${zntv_test_pch_default})
# The sanitizer trees of scripts/test compile the test code itself unoptimised, which halves its compile time;
# the program's code and the stand-ins keep their optimisation (the code under test runs as usual).
option(ZNTV_TEST_CODE_O0 "Compile the test files without optimisation" OFF)
set(ZNTV_TEST_PCH_HEADERS <gtest/gtest.h> <gmock/gmock.h> <nlohmann/json.hpp> <fmt/format.h> <filesystem> <string>
  <vector> <thread> <chrono>)

# One GoogleTest executable per test folder; every test case becomes a CTest test with the given label.
# Files named *_e2e_test.cpp, *_gui_test.cpp or *_soak_test.cpp go into their own executables with the e2e, gui
# or soak label (soak: the long runs, which the usual test runs leave out).
function(zntv_test_folder name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(unit "")
  set(e2e "")
  set(gui "")
  set(soak "")
  set(support "")
  foreach(f ${all})
    if(f MATCHES "_e2e_test\\.cpp$")
      list(APPEND e2e ${f})
    elseif(f MATCHES "_gui_test\\.cpp$")
      list(APPEND gui ${f})
    elseif(f MATCHES "_soak_test\\.cpp$")
      list(APPEND soak ${f})
    elseif(f MATCHES "_test\\.cpp$")
      list(APPEND unit ${f})
    else()
      list(APPEND support ${f})
    endif()
  endforeach()
  foreach(kind unit e2e gui soak)
    if(${kind})
      if(kind STREQUAL "unit")
        set(exe test_${name})
      else()
        set(exe test_${name}_${kind})
      endif()
      add_executable(${exe} ${${kind}} ${support})
      # The sanitizer tree builds the unit and end-to-end suites alone (target zntv_sanitized_suites).
      if(kind STREQUAL "unit" OR kind STREQUAL "e2e")
        set_property(GLOBAL APPEND PROPERTY ZNTV_UNIT_E2E_SUITES ${exe})
      endif()
      target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
      target_link_libraries(${exe} PRIVATE ${ARG_DEPS} zntv_testsupport GTest::gmock GTest::gtest_main)
      if(ZNTV_TEST_PCH)
        target_precompile_headers(${exe} PRIVATE ${ZNTV_TEST_PCH_HEADERS})
      endif()
      if(ZNTV_TEST_CODE_O0)
        target_compile_options(${exe} PRIVATE -O0)
      endif()
      target_compile_definitions(${exe} PRIVATE
        ZNTV_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        ZNTV_BINARY_DIR="${CMAKE_BINARY_DIR}"
        ZNTV_SHARED_DIR="${ZNTV_SHARED_DIR_FOUND}")
      # The end-to-end runs play their scenarios in real time, a take-off from its stand for several minutes.
      if(kind STREQUAL "e2e")
        set(timeout 300)
      elseif(kind STREQUAL "soak")
        set(timeout 3600)
      else()
        set(timeout 120)
      endif()
      # The window suites run as from a shell that exported ZNTV_HEADLESS=1, as the README has it for a machine
      # without a display: a test that starts the program gives it the environment it runs in, not the user's.
      set(environment "")
      if(kind STREQUAL "gui")
        set(environment ENVIRONMENT ZNTV_HEADLESS=1)
      endif()
      gtest_discover_tests(${exe}
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
        PROPERTIES LABELS ${kind} TIMEOUT ${timeout} ${environment}
        DISCOVERY_TIMEOUT 60)
    endif()
  endforeach()
endfunction()
