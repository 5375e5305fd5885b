# Windows pieces of the OrvaneCom.dll build, included from the top-level
# CMakeLists.txt when targeting Windows (cross-built with mingw-w64, see
# cmake/toolchain-mingw-i686.cmake and scripts/windows-leg.sh).

# The entry routine and the export list belong to the DLL only.
target_sources(OrvaneCom PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/dllmain.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrvaneCom.def)

if(MINGW)
  # A host built by another compiler may call in with the stack aligned to 4
  # bytes only; never assume more. Link the compiler's runtime statically so
  # the DLL needs nothing beyond KERNEL32.dll and msvcrt.dll.
  get_property(layers GLOBAL PROPERTY ORVANE_LAYER_TARGETS)
  foreach(layer ${layers})
    target_compile_options(${layer} PRIVATE -mincoming-stack-boundary=2)
  endforeach()
  target_compile_options(OrvaneCom PRIVATE -mincoming-stack-boundary=2)
  target_link_options(OrvaneCom PRIVATE -static-libgcc -static-libstdc++ -Wl,--no-undefined
                      -Wl,--exclude-all-symbols -Wl,--no-insert-timestamp
                      $<$<CONFIG:Release,MinSizeRel>:-s>)
endif()

# The DLL and the test host side by side, so the host finds it like a
# Windows application would.
set_target_properties(OrvaneCom PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin
  ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

option(ORVANE_WIN_TESTS "Build the Windows host test program" ON)
if(ORVANE_WIN_TESTS)
  enable_testing()
  add_subdirectory(${CMAKE_CURRENT_LIST_DIR} ${CMAKE_BINARY_DIR}/win)
endif()

# The export list ships beside the DLL and its import library (an MSVC host
# makes its own import library from it with lib /def).
add_custom_command(TARGET OrvaneCom POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_CURRENT_LIST_DIR}/OrvaneCom.def ${CMAKE_BINARY_DIR}/bin/)
