# Running Windows test programs under Wine: a private prefix per build folder,
# created once by the test win_prefix (fixture "wine"), and the environment
# every such test runs with. Included wherever Windows tests are registered.
#   ORVANE_WINE_ENV  the ENVIRONMENT property for those tests
set(ORVANE_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Private Wine prefix for the tests")
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()
set(ORVANE_WINE_ENV "WINEPREFIX=${ORVANE_WINEPREFIX}" "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml=")

get_property(_wine_fixture_added GLOBAL PROPERTY ORVANE_WINE_FIXTURE_ADDED)
if(NOT _wine_fixture_added)
  set_property(GLOBAL PROPERTY ORVANE_WINE_FIXTURE_ADDED ON)
  get_filename_component(_wine_dir "${CMAKE_CROSSCOMPILING_EMULATOR}" DIRECTORY)
  find_program(ORVANE_WINEBOOT NAMES wineboot wineboot-stable HINTS ${_wine_dir})
  find_program(ORVANE_WINESERVER NAMES wineserver wineserver-stable HINTS ${_wine_dir})
  set(_wine_fixture ${CMAKE_COMMAND} -DWINEBOOT=${ORVANE_WINEBOOT} -DWINESERVER=${ORVANE_WINESERVER}
      -DWINE=${CMAKE_CROSSCOMPILING_EMULATOR} -DPREFIX=${ORVANE_WINEPREFIX})
  add_test(NAME win_prefix COMMAND ${_wine_fixture} -DACTION=start -P ${CMAKE_CURRENT_LIST_DIR}/wine_prefix.cmake)
  set_tests_properties(win_prefix PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${ORVANE_WINE_ENV}" TIMEOUT 300)
  add_test(NAME win_prefix_stop COMMAND ${_wine_fixture} -DACTION=stop -P ${CMAKE_CURRENT_LIST_DIR}/wine_prefix.cmake)
  set_tests_properties(win_prefix_stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${ORVANE_WINE_ENV}")
endif()
