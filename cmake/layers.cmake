# orvane_layer(folder USES folder... SOURCES file...): the object library
# orvane_<folder> of one library folder. USES lists the folders whose headers
# it may include (core is implied except for core itself); "include" stands
# for the public header orvane.h.
function(orvane_layer folder)
  cmake_parse_arguments(LAYER "" "" "USES;SOURCES" ${ARGN})
  set(target orvane_${folder})
  set(uses ${LAYER_USES})
  if(NOT folder STREQUAL "core")
    list(APPEND uses core)
  endif()
  if(LAYER_SOURCES)
    add_library(${target} OBJECT ${LAYER_SOURCES})
    set_target_properties(${target} PROPERTIES
      POSITION_INDEPENDENT_CODE ON
      CXX_VISIBILITY_PRESET hidden
      VISIBILITY_INLINES_HIDDEN ON)
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_definitions(${target} PRIVATE ORVANE_BUILDING_LIBRARY)
    if("include" IN_LIST uses)
      target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/include)
    endif()
    foreach(used ${uses})
      if(TARGET orvane_${used})
        target_link_libraries(${target} PUBLIC orvane_${used})
      endif()
    endforeach()
    set_property(GLOBAL APPEND PROPERTY ORVANE_LAYER_OBJECTS $<TARGET_OBJECTS:${target}>)
    set_property(GLOBAL APPEND PROPERTY ORVANE_LAYER_TARGETS ${target})
  endif()
  string(REPLACE ";" "," uses "${uses}")
  set_property(GLOBAL APPEND PROPERTY ORVANE_LAYER_GRAPH "${folder}:${uses}")
endfunction()

# The test that every #include of a library folder names a folder it may use.
function(orvane_layering_test)
  get_property(graph GLOBAL PROPERTY ORVANE_LAYER_GRAPH)
  string(REPLACE ";" "|" graph "${graph}")
  add_test(NAME library_layering
           COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR} "-DGRAPH=${graph}"
                   -P ${PROJECT_SOURCE_DIR}/cmake/check_layering.cmake)
endfunction()
