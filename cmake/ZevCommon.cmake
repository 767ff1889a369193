# Settings shared by every tree, and the helpers that add tests.

set(ZEV_NATIVE OFF)
set(ZEV_WIN32 OFF)
set(ZEV_WIN64 OFF)
if(ZEV_TREE STREQUAL "native")
  set(ZEV_NATIVE ON)
elseif(ZEV_TREE STREQUAL "win32")
  set(ZEV_WIN32 ON)
else()
  set(ZEV_WIN64 ON)
endif()
set(ZEV_WINDOWS OFF)
if(ZEV_WIN32 OR ZEV_WIN64)
  set(ZEV_WINDOWS ON)
  enable_language(RC)
endif()

# GoogleTest from the Debian sources, built with this tree's compiler.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/gtest EXCLUDE_FROM_ALL)
include(GoogleTest)

# Our own code (not GoogleTest's) is built warning-free with these.
add_compile_options(-Wall -Wextra)

if(ZEV_WINDOWS)
  # Wide Win32 calls everywhere; the runtime's own printf family keeps the
  # Windows conventions ("%s" is wide text in wide formats, "%S" narrow).
  add_compile_definitions(UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0601
                          __USE_MINGW_ANSI_STDIO=0)
  # Header-only Boost: a folder that holds only a link to the boost headers,
  # so that /usr/include never reaches a mingw include path.
  set(ZEV_BOOST_DIR ${CMAKE_BINARY_DIR}/boost-include)
  if(NOT EXISTS ${ZEV_BOOST_DIR}/boost)
    file(MAKE_DIRECTORY ${ZEV_BOOST_DIR})
    file(CREATE_LINK /usr/include/boost ${ZEV_BOOST_DIR}/boost SYMBOLIC)
  endif()
  add_library(zev_boost INTERFACE)
  target_include_directories(zev_boost SYSTEM INTERFACE ${ZEV_BOOST_DIR})
  target_compile_definitions(zev_boost INTERFACE BOOST_ALL_NO_LIB)
endif()

# zev_add_gtest(<target> LABEL <label> SOURCES <files...> [LIBS <libs...>]
#               [PROPERTIES <ctest properties...>])
# Adds a GoogleTest executable; its tests are discovered when CTest runs
# (under Wine for the Windows trees) and carry the given label.
function(zev_add_gtest target)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  if(NOT ARG_LABEL)
    message(FATAL_ERROR "zev_add_gtest(${target}): LABEL is required")
  endif()
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
  target_link_libraries(${target} PRIVATE zev_test_main)
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 600 ${ARG_PROPERTIES})
endfunction()
