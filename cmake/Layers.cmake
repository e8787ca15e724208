# The layers of the source tree, and which of them each layer may include.
#
# Code names its headers from the top of the tree ("base/error_or.h",
# "runtime/kernel/runtime.h"), but no target is given the top of the tree.
# Each layer has a folder of the build tree, include-roots/<layer>, holding
# links to just the folders it may use, and an INTERFACE library
# layer_<layer> that puts that folder on the include path. An include of any
# other folder finds nothing and fails to build.
#
#   add_layer(NAME kernel USES contract base runtime/kernel)
#     -> layer_kernel; include-roots/kernel/{contract,base,runtime/kernel}
#
# Targets link their layer PRIVATE, so that no layer's folders reach the
# targets that link theirs. Program images are compiled by custom commands
# (cmake/ProgramImage.cmake) and take the folder include-roots/program.
#
# The dependency rule itself is written down in docs/architecture.md.

if(NOT DEFINED LAYER_SOURCE_DIR)
  set(LAYER_SOURCE_DIR ${CMAKE_SOURCE_DIR})
endif()
set(LAYER_ROOT_DIR ${CMAKE_BINARY_DIR}/include-roots)

function(add_layer)
  cmake_parse_arguments(L "" "NAME" "USES" ${ARGN})
  set(root ${LAYER_ROOT_DIR}/${L_NAME})
  file(MAKE_DIRECTORY ${root})

  # Links left from an earlier configuration with another list go. Links are
  # removed one by one, never recursively, so nothing behind them is touched.
  set(wanted)
  foreach(folder ${L_USES})
    list(APPEND wanted ${root}/${folder})
  endforeach()
  file(GLOB_RECURSE present LIST_DIRECTORIES true ${root}/*)
  foreach(entry ${present})
    if(IS_SYMLINK ${entry} AND NOT entry IN_LIST wanted)
      file(REMOVE ${entry})
    endif()
  endforeach()

  foreach(folder ${L_USES})
    set(target ${LAYER_SOURCE_DIR}/${folder})
    set(link ${root}/${folder})
    if(NOT IS_DIRECTORY ${target})
      message(FATAL_ERROR "layer ${L_NAME}: no folder ${folder}")
    endif()
    if(IS_SYMLINK ${link})
      file(READ_SYMLINK ${link} current)
      if(current STREQUAL target)
        continue()
      endif()
      file(REMOVE ${link})
    endif()
    get_filename_component(parent ${link} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${target} ${link} SYMBOLIC)
  endforeach()

  add_library(layer_${L_NAME} INTERFACE)
  target_include_directories(layer_${L_NAME} INTERFACE ${root})
endfunction()

# Host-side base code: errors, byte reading, encodings, the transcript, the
# executable-format records. It includes nothing but itself.
add_layer(NAME base USES base)

# The loader: the stub, the runtime package, the assembler.
add_layer(NAME loader USES contract base loader)

# The program image format, the binder on it, the image linker on it.
add_layer(NAME image_format USES contract base image/format)
add_layer(NAME image_bind USES contract base image/format image/bind)
add_layer(NAME image_link USES contract base image/format image/link)

# The kernel library: it binds images, and knows nothing of the loader, the
# image linker or the support libraries.
add_layer(NAME kernel USES contract base image/format image/bind runtime/kernel)

# The support libraries: loaded by the kernel, reached only through the
# contract.
add_layer(NAME libraries USES contract base runtime/libraries)

# Program images: the SDK (its own include folder), the contract and what the
# applications share. Nothing host-side.
add_layer(NAME program USES contract common)
# A program with folders of its own: those too (LAYER in add_program).
add_layer(NAME updater_program USES contract common updater)
add_layer(NAME launcher_program USES contract common launcher)

# Tests and benchmarks look at everything.
add_layer(NAME tests USES contract base loader image runtime common launcher updater tests)
add_layer(NAME bench USES contract base loader image runtime common launcher updater tests bench)
