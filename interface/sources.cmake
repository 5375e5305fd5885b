# The eight exports and the drivers behind them.
orvane_layer(interface USES include workspace formats enhance minutiae match SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/exports.cpp
  ${CMAKE_CURRENT_LIST_DIR}/extraction.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/diagnostics.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pipeline.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/quality.cpp)
