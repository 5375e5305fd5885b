# Sources of the skeleton and minutia stages.
orvane_layer(minutiae USES workspace SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/thinning.cpp
  ${CMAKE_CURRENT_LIST_DIR}/skeleton.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cleanup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/description.cpp
  ${CMAKE_CURRENT_LIST_DIR}/detection.cpp)
