# The image workspace (memory only: it reads no files).
orvane_layer(workspace SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/workspace.cpp)
