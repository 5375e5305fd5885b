# Sources of the skeleton and minutia stages.
target_sources(orvane_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/thinning.cpp
  ${CMAKE_CURRENT_LIST_DIR}/skeleton.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cleanup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/description.cpp
  ${CMAKE_CURRENT_LIST_DIR}/detection.cpp)
