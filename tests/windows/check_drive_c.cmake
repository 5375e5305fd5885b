# Seen from Linux: the seven stage images that the DLL wrote to c:\ under Wine
# lie in the prefix's drive_c and equal those the Linux build wrote.
#   cmake -DCASES=<case folder> -DDRIVE_C=<prefix>/drive_c -P check_drive_c.cmake
file(STRINGS "${CASES}/expected.txt" diagnostics REGEX "^diagnostics ")
if(NOT diagnostics OR diagnostics STREQUAL "diagnostics none")
  # Reported as skipped by ctest (SKIP_REGULAR_EXPRESSION).
  message(STATUS "SKIPPED: no print was extracted, so no stage images were written")
  return()
endif()
set(failed 0)
foreach(name 0 00 1 2 3 4 5)
  if(NOT EXISTS "${DRIVE_C}/${name}.bmp")
    message(SEND_ERROR "${DRIVE_C}/${name}.bmp is missing")
    set(failed 1)
    continue()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${DRIVE_C}/${name}.bmp" "${CASES}/diag/${name}.bmp"
                  RESULT_VARIABLE differ)
  if(differ)
    message(SEND_ERROR "${DRIVE_C}/${name}.bmp differs from ${CASES}/diag/${name}.bmp")
    set(failed 1)
  endif()
endforeach()
if(NOT failed)
  message(STATUS "seven stage images on drive C equal the Linux ones (${diagnostics})")
endif()
