# Alignment, pairing and the match score.
orvane_layer(match USES formats SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/align.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reference_index.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pairing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/anchor_search.cpp
  ${CMAKE_CURRENT_LIST_DIR}/matcher.cpp)
