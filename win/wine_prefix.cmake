# Set-up and clean-up of the test fixture "wine" (see wine.cmake).
#   cmake -DWINEBOOT=.. -DWINESERVER=.. -DWINE=.. -DPREFIX=.. -DACTION=start|stop -P wine_prefix.cmake
# start: creates the private prefix once (quietly; later runs reuse it) and
# starts its wine server and system processes detached from the test's output.
# A server that a test program starts itself inherits that test's output pipe,
# and ctest then waits for the server to exit before it ends the test. The
# server outlives its last program by SERVER_LINGER seconds, enough to bridge
# the gaps between tests.
# stop: stops the server.
set(SERVER_LINGER 30)
if(ACTION STREQUAL "stop")
  execute_process(COMMAND ${WINESERVER} -k OUTPUT_QUIET ERROR_QUIET)
  return()
endif()

if(NOT EXISTS "${PREFIX}/drive_c/windows/system32")
  execute_process(COMMAND ${WINEBOOT} -i RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(WINESERVER)
    execute_process(COMMAND ${WINESERVER} -w)
  endif()
  if(NOT EXISTS "${PREFIX}/drive_c/windows/system32")
    message(FATAL_ERROR "wineboot could not create ${PREFIX} (exit ${rc})")
  endif()
  message(STATUS "Wine prefix ready: ${PREFIX}")
endif()

if(WINESERVER AND WINE)
  execute_process(COMMAND sh -c "\"$0\" -p${SERVER_LINGER} && \"$1\" cmd.exe /c exit" "${WINESERVER}" "${WINE}"
                  INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
endif()
