# The sanitized native build links base/sanitizer/sanitizer_defaults.cpp into
# every executable, so that each one, the programs' stub and every test, starts
# the sanitizer with the same defaults. The sanitizer reads them from the
# executable only, not from a library it loads.

function(_link_sanitizer_defaults directory)
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      target_link_libraries(${target} PRIVATE sanitizer_defaults)
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory ${subdirectories})
    _link_sanitizer_defaults(${subdirectory})
  endforeach()
endfunction()

# Call once, after every add_subdirectory.
function(link_sanitizer_defaults)
  add_library(sanitizer_defaults OBJECT ${CMAKE_SOURCE_DIR}/base/sanitizer/sanitizer_defaults.cpp)
  _link_sanitizer_defaults(${CMAKE_SOURCE_DIR})
endfunction()
