# Sources of the image enhancement stages.
orvane_layer(enhance USES workspace SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/direction_lines.cpp
  ${CMAKE_CURRENT_LIST_DIR}/smoothing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/orientation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/orientation_code.cpp
  ${CMAKE_CURRENT_LIST_DIR}/segmentation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ridge_filter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/noise.cpp)
