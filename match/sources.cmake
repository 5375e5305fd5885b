target_sources(orvane_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/align.cpp
  ${CMAKE_CURRENT_LIST_DIR}/matcher.cpp)
