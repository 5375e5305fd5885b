target_sources(orvane_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/bitmap.cpp
  ${CMAKE_CURRENT_LIST_DIR}/feature_template.cpp
  ${CMAKE_CURRENT_LIST_DIR}/unfinished_file.cpp)
