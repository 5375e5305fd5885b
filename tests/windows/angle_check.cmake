# ORVANE_ANGLE_CASES: whether tests/support/angle_cases.h compiles against the
# library's stages as they are in this tree. The angle programs read internal
# stage functions; when one of them has changed shape, the programs are left
# out (with a warning) instead of breaking the build, and the Windows leg says
# that it skipped them.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_INCLUDES ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/tests)
set(CMAKE_REQUIRED_QUIET ON)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
unset(ORVANE_ANGLE_CASES CACHE)
check_cxx_source_compiles([[
#include "support/angle_cases.h"
int main() { return static_cast<int>(orvane_equality::angleLines().size()); }
]] ORVANE_ANGLE_CASES)
unset(CMAKE_TRY_COMPILE_TARGET_TYPE)
unset(CMAKE_REQUIRED_INCLUDES)
if(NOT ORVANE_ANGLE_CASES)
  message(WARNING "tests/support/angle_cases.h does not compile against the stages in this tree; "
                  "the angle comparison of the Windows leg is left out")
endif()
