# GoogleTest and the registration of test programs for cross builds (the
# 32-bit Windows build with mingw-w64, run under Wine). Included from
# tests/CMakeLists.txt when cross-compiling; sets ORVANE_CROSS_GTEST when the
# tests can be built.
#
# Debian ships GoogleTest for the build machine only, so it is compiled here
# from the source package (googletest, in /usr/src/googletest) with the
# cross compiler and the project's flags. Without it the library still
# builds and the tests are left out with a message.
#
# Each test program runs once, as one ctest entry, under the cross-compiling
# emulator: Wine takes about a second to start, so one process per test case
# (gtest_discover_tests) would cost more than the tests themselves.

set(ORVANE_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest sources compiled for cross builds (Debian package googletest)")

# The exclusion lists: every test program of tests/ runs on the target
# unless it is named here, with the reason.
#   ORVANE_CROSS_EXCLUDED_<program>  "reason": the program is not built.
#   ORVANE_CROSS_SKIPPED_<program>   "pattern" "reason": test cases left out, a
#                                    gtest filter pattern (several joined by ':').
set(ORVANE_CROSS_EXCLUDED_search_test
    "the 1:N search runs on std::thread, which mingw-w64's win32 thread model lacks (search/ is not cross-built)")
set(ORVANE_CROSS_SKIPPED_interface_test
    "ExtractExport.DiagnosticFilesOnlyWithTheVariable*"
    "on Windows the exports write their stage images to c:\\ whatever ORVANE_DEBUG_DIR says (the host test checks those)")

# Tests of tests/CMakeLists.txt registered for the build machine only.
message(STATUS "Left out of the cross build: shared_library_exports_only_the_api: it reads an ELF symbol "
               "table (nm -D); scripts/windows-leg.sh checks the DLL's export table with objdump")

set(ORVANE_CROSS_GTEST OFF)
find_package(GTest QUIET)  # one built for the target under CMAKE_FIND_ROOT_PATH, if any
if(GTest_FOUND)
  set(ORVANE_CROSS_GTEST ON)
elseif(EXISTS ${ORVANE_GTEST_SOURCE_DIR}/googletest/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(${ORVANE_GTEST_SOURCE_DIR}/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Its one large source takes the longest of the whole cross build at -O3;
  # its own speed hardly matters to the tests.
  target_compile_options(gtest PRIVATE -O1)
  include(CheckCXXSourceCompiles)
  check_cxx_source_compiles("#include <mutex>\nint main() { std::mutex m; m.lock(); m.unlock(); }"
                            ORVANE_HAS_STD_MUTEX)
  if(MINGW AND NOT ORVANE_HAS_STD_MUTEX)
    # Only GoogleTest's Notification needs std::mutex, which mingw-w64's win32
    # thread model lacks: a Win32 one takes its place.
    target_sources(gtest PRIVATE ${PROJECT_SOURCE_DIR}/win/gtest_notification.cpp)
    target_compile_options(gtest PUBLIC "SHELL:-include ${PROJECT_SOURCE_DIR}/win/gtest_notification.h")
  endif()
  set(ORVANE_CROSS_GTEST ON)
else()
  message(WARNING "No GoogleTest for the target and no sources in ORVANE_GTEST_SOURCE_DIR "
                  "(${ORVANE_GTEST_SOURCE_DIR}; Debian package googletest): the unit tests are left out of this "
                  "cross build")
  return()
endif()

if(WIN32)
  include(${PROJECT_SOURCE_DIR}/win/wine.cmake)
  # The test programs link the library's static archive, so they declare the
  # exports as the library's own code does, not as imports from the DLL.
  add_compile_definitions(ORVANE_BUILDING_LIBRARY)
endif()
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(STATUS "No CMAKE_CROSSCOMPILING_EMULATOR: the test programs are built but not registered with ctest")
endif()

# orvane_cross_test(name): registers the test program made by orvane_test().
function(orvane_cross_test name)
  if(DEFINED ORVANE_CROSS_EXCLUDED_${name})
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ON)
    message(STATUS "Left out of the cross build: ${name}: ${ORVANE_CROSS_EXCLUDED_${name}}")
    return()
  endif()
  # The compiler's runtime linked in, so Wine needs no DLLs beside the program.
  target_link_options(${name} PRIVATE -static)
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    return()
  endif()
  set(filter "")
  if(DEFINED ORVANE_CROSS_SKIPPED_${name})
    list(GET ORVANE_CROSS_SKIPPED_${name} 0 pattern)
    list(GET ORVANE_CROSS_SKIPPED_${name} 1 reason)
    set(filter "--gtest_filter=-${pattern}")
    message(STATUS "Left out of ${name} on the target: ${pattern}: ${reason}")
  endif()
  # On Windows the exports write their stage images to c:\ of the shared Wine
  # prefix: the unit tests start after win/'s check of the DLL's images there.
  add_test(NAME ${name} COMMAND ${name} ${filter})
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED wine
    DEPENDS win_drive_c_diagnostics
    LABELS unit
    ENVIRONMENT "${ORVANE_WINE_ENV}"
    TIMEOUT 600)
endfunction()
