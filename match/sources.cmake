target_sources(orvane_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/align.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reference_index.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pairing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/anchor_search.cpp
  ${CMAKE_CURRENT_LIST_DIR}/matcher.cpp)
