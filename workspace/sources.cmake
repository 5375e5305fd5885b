target_sources(orvane_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/workspace.cpp)
