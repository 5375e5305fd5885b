# Bitmap and template files, and the packed template.
orvane_layer(formats SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/bitmap.cpp
  ${CMAKE_CURRENT_LIST_DIR}/feature_template.cpp
  ${CMAKE_CURRENT_LIST_DIR}/unfinished_file.cpp)
