target_sources(orvane_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/exports.cpp
  ${CMAKE_CURRENT_LIST_DIR}/extraction.cpp
  ${CMAKE_CURRENT_LIST_DIR}/diagnostics.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pipeline.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/quality.cpp)
