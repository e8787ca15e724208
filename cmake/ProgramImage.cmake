# Building programs: application sources are compiled freestanding for i386
# or x86-64 with the host compiler, linked by GNU ld with the SDK's linker
# script, turned into an image by imagelink, and assembled with the loader
# stub and a runtime package into the program of each target.
#
#   add_program(NAME packgen DESCRIPTION packgen.desc SOURCES packgen.cpp)
#     both images, and the programs: ${CMAKE_CURRENT_BINARY_DIR}/packgen
#     (target packgen_program) and, from the win builds, <win build>/<the same
#     folder>/packgen.exe (target packgen_windows); the runtime package holds
#     the kernel and the support libraries of the description's `library`
#     lines. FOLDER_NAME names the runtime folder (default: NAME).
#   add_program_image(NAME probe ARCH x86-64 DESCRIPTION probe.desc SOURCES a.cpp b.cpp)
#     -> ${CMAKE_BINARY_DIR}/images/probe-x86-64.img, target image_probe_x86-64
#   add_program_elf(...) stops after the link (for tests of imagelink itself)
#     -> ${CMAKE_BINARY_DIR}/images/probe-x86-64.elf, target elf_probe_x86-64
#
# The SDK's start and support routines and the program support library (the
# shared freestanding code: manifest, file walker, name counts, folder
# choice) are compiled once per architecture (add_image_support, called once
# by image/sdk/CMakeLists.txt) and linked into every image. A program's
# sources include "units.h", the handles that `imagelink prepare` writes from
# the description.

set(IMAGE_SDK_DIR ${CMAKE_SOURCE_DIR}/image/sdk)
find_program(IMAGE_LD NAMES ld.bfd ld REQUIRED)

set(IMAGE_CXX_FLAGS
  -std=c++20 -O2 -ffreestanding -fno-exceptions -fno-rtti -fno-pic
  -fno-asynchronous-unwind-tables -fno-stack-protector -fno-threadsafe-statics
  -fexec-charset=GBK -ffunction-sections -fdata-sections
  -Wall -Wextra -Werror
  -I${IMAGE_SDK_DIR}/include)

# What every image links, as objects: the start routine comes first as the
# linker script places it, the rest is kept or dropped by --gc-sections.
set(IMAGE_SDK_SOURCES
  ${IMAGE_SDK_DIR}/support/start.cpp
  ${IMAGE_SDK_DIR}/support/new.cpp
  ${IMAGE_SDK_DIR}/support/memory.cpp
  ${IMAGE_SDK_DIR}/support/cxa.cpp
  ${IMAGE_SDK_DIR}/support/help.S)

# The program support library: members are linked only when a program uses them.
set(IMAGE_SUPPORT_LIBRARY_SOURCES
  ${IMAGE_SDK_DIR}/source/folder_dialog.cpp
  ${CMAKE_SOURCE_DIR}/common/manifest/manifest.cpp
  ${CMAKE_SOURCE_DIR}/common/manifest/name_counts.cpp
  ${CMAKE_SOURCE_DIR}/common/file_walk/file_walk.cpp)

function(_image_arch_settings arch)
  if(arch STREQUAL "x86-64")
    set(flags -m64 -mno-red-zone PARENT_SCOPE)
    set(emulation elf_x86_64 PARENT_SCOPE)
    set(thunks ${IMAGE_SDK_DIR}/support/thunks_x86_64.S PARENT_SCOPE)
  elseif(arch STREQUAL "i386")
    set(flags -m32 PARENT_SCOPE)
    set(emulation elf_i386 PARENT_SCOPE)
    set(thunks ${IMAGE_SDK_DIR}/support/thunks_i386.S PARENT_SCOPE)
  else()
    message(FATAL_ERROR "unknown image architecture ${arch}")
  endif()
endfunction()

# Compiles `sources` for `arch` into objects under `dir`; sets `out`.
# EXTRA: more compiler flags; NEEDS: files that must exist before compiling.
function(_image_compile out dir arch)
  cmake_parse_arguments(C "" "" "SOURCES;EXTRA;NEEDS" ${ARGN})
  _image_arch_settings(${arch})
  set(objects)
  foreach(source ${C_SOURCES})
    get_filename_component(name ${source} NAME)
    set(object ${dir}/${name}.o)
    add_custom_command(
      OUTPUT ${object}
      COMMAND ${CMAKE_CXX_COMPILER} ${flags} ${IMAGE_CXX_FLAGS} ${C_EXTRA} -MD -MF ${object}.d
              -c ${source} -o ${object}
      DEPENDS ${source} ${C_NEEDS}
      DEPFILE ${object}.d
      COMMENT "Compiling ${name} for a ${arch} image"
      VERBATIM)
    list(APPEND objects ${object})
  endforeach()
  set(${out} ${objects} PARENT_SCOPE)
endfunction()

function(_image_support_dir out arch)
  set(${out} ${CMAKE_BINARY_DIR}/images/support-${arch} PARENT_SCOPE)
endfunction()

# The SDK objects and the program support library of `arch`, once per build
# (target image_support_<arch>).
function(add_image_support arch)
  _image_arch_settings(${arch})
  _image_support_dir(dir ${arch})
  _image_compile(sdk_objects ${dir}/sdk ${arch} SOURCES ${IMAGE_SDK_SOURCES} ${thunks}
    EXTRA -I${LAYER_ROOT_DIR}/program)
  _image_compile(library_objects ${dir}/library ${arch} SOURCES ${IMAGE_SUPPORT_LIBRARY_SOURCES}
    EXTRA -I${LAYER_ROOT_DIR}/program)
  set(library ${dir}/libprogram_support.a)
  add_custom_command(
    OUTPUT ${library}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${library}
    COMMAND ${CMAKE_AR} qcs ${library} ${library_objects}
    DEPENDS ${library_objects}
    COMMENT "Archiving the program support library (${arch})"
    VERBATIM)
  add_custom_target(image_support_${arch} ALL DEPENDS ${sdk_objects} ${library})
  set_property(GLOBAL PROPERTY IMAGE_SDK_OBJECTS_${arch} ${sdk_objects})
endfunction()

function(_image_elf name arch description layer out_elf out_dir)
  set(dir ${CMAKE_BINARY_DIR}/images/${name}-${arch})
  set(${out_dir} ${dir} PARENT_SCOPE)
  _image_arch_settings(${arch})
  _image_support_dir(support ${arch})
  get_property(sdk_objects GLOBAL PROPERTY IMAGE_SDK_OBJECTS_${arch})
  if(NOT sdk_objects)
    message(FATAL_ERROR "add_image_support(${arch}) must come before the images")
  endif()
  set(generated ${dir}/form.S ${dir}/handlers.ld ${dir}/form.bin ${dir}/units.h
      ${dir}/start_window.cpp)
  add_custom_command(
    OUTPUT ${generated}
    COMMAND imagelink prepare --description ${description} --out-dir ${dir}
    DEPENDS imagelink ${description}
    COMMENT "Preparing the forms of ${name} (${arch})"
    VERBATIM)
  _image_compile(objects ${dir} ${arch} SOURCES ${ARGN} ${dir}/start_window.cpp ${dir}/form.S
    EXTRA -I${dir} -I${LAYER_ROOT_DIR}/${layer} NEEDS ${dir}/units.h)
  set(elf ${CMAKE_BINARY_DIR}/images/${name}-${arch}.elf)
  set(library ${support}/libprogram_support.a)
  add_custom_command(
    OUTPUT ${elf}
    COMMAND ${IMAGE_LD} -m ${emulation} -T ${IMAGE_SDK_DIR}/image.ld ${dir}/handlers.ld
            --emit-relocs --gc-sections --unresolved-symbols=ignore-all -static -nostdlib
            -o ${elf} ${objects} ${sdk_objects} ${library}
    DEPENDS ${objects} ${sdk_objects} ${library} ${IMAGE_SDK_DIR}/image.ld ${dir}/handlers.ld
    COMMENT "Linking ${name} (${arch})"
    VERBATIM)
  set(${out_elf} ${elf} PARENT_SCOPE)
endfunction()

# LAYER: the include layer of the program's sources (cmake/Layers.cmake);
# `program` (the contract and common/) unless the program has folders of its
# own to include.
function(_image_layer out)
  if(ARGN)
    set(${out} ${ARGN} PARENT_SCOPE)
  else()
    set(${out} program PARENT_SCOPE)
  endif()
endfunction()

function(add_program_elf)
  cmake_parse_arguments(P "" "NAME;ARCH;DESCRIPTION;LAYER" "SOURCES" ${ARGN})
  _image_layer(layer ${P_LAYER})
  _image_elf(${P_NAME} ${P_ARCH} ${P_DESCRIPTION} ${layer} elf dir ${P_SOURCES})
  add_custom_target(elf_${P_NAME}_${P_ARCH} ALL DEPENDS ${elf})
  add_dependencies(elf_${P_NAME}_${P_ARCH} image_support_${P_ARCH})
endfunction()

function(add_program_image)
  cmake_parse_arguments(P "" "NAME;ARCH;DESCRIPTION;LAYER" "SOURCES" ${ARGN})
  _image_layer(layer ${P_LAYER})
  _image_elf(${P_NAME} ${P_ARCH} ${P_DESCRIPTION} ${layer} elf dir ${P_SOURCES})
  set(image ${CMAKE_BINARY_DIR}/images/${P_NAME}-${P_ARCH}.img)
  add_custom_command(
    OUTPUT ${image}
    COMMAND imagelink link --description ${P_DESCRIPTION} --elf ${elf} --out ${image}
    DEPENDS imagelink ${elf} ${P_DESCRIPTION}
    COMMENT "Making the image ${P_NAME}-${P_ARCH}.img"
    VERBATIM)
  add_custom_target(image_${P_NAME}_${P_ARCH} ALL DEPENDS ${image})
  add_dependencies(image_${P_NAME}_${P_ARCH} image_support_${P_ARCH})
endfunction()

# The support libraries that a description lists (`library NAME` lines), in
# their order; the build is configured again when the description changes.
function(program_libraries out description)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${description})
  file(STRINGS ${description} lines REGEX "^[ \t]*library[ \t]")
  set(libraries)
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*library[ \t]+([^ \t#]+).*$" "\\1" library "${line}")
    list(APPEND libraries ${library})
  endforeach()
  set(${out} ${libraries} PARENT_SCOPE)
endfunction()

function(add_program)
  cmake_parse_arguments(P "" "NAME;DESCRIPTION;FOLDER_NAME;LAYER" "SOURCES" ${ARGN})
  if(NOT P_NAME OR NOT P_DESCRIPTION OR NOT P_SOURCES)
    message(FATAL_ERROR "add_program needs NAME, DESCRIPTION and SOURCES")
  endif()
  if(NOT P_FOLDER_NAME)
    set(P_FOLDER_NAME ${P_NAME})
  endif()
  get_filename_component(description ${P_DESCRIPTION} ABSOLUTE)
  set(sources)
  foreach(source ${P_SOURCES})
    get_filename_component(source ${source} ABSOLUTE)
    list(APPEND sources ${source})
  endforeach()
  foreach(arch i386 x86-64)
    add_program_image(NAME ${P_NAME} ARCH ${arch} DESCRIPTION ${description} LAYER ${P_LAYER}
      SOURCES ${sources})
  endforeach()
  program_libraries(libraries ${description})

  # linux-x64: the native stub, kernel and libraries with the x86-64 image.
  set(files "krnln.fne=$<TARGET_FILE:kernel>")
  set(library_targets)
  foreach(library ${libraries})
    list(APPEND files "${library}.fne=$<TARGET_FILE:library_${library}>")
    list(APPEND library_targets library_${library})
  endforeach()
  set(image ${CMAKE_BINARY_DIR}/images/${P_NAME}-x86-64.img)
  set(program ${CMAKE_CURRENT_BINARY_DIR}/${P_NAME})
  add_custom_command(
    OUTPUT ${program}
    COMMAND assemble --stub $<TARGET_FILE:stub> --image ${image} --out ${program}
            --folder-name ${P_FOLDER_NAME} ${files}
    DEPENDS assemble stub kernel image_${P_NAME}_x86-64 ${library_targets} ${image}
    COMMENT "Assembling ${P_NAME} (linux-x64)"
    VERBATIM)
  add_custom_target(${P_NAME}_program ALL DEPENDS ${program})

  # win-x64 and win-x86: from the win builds' stubs and libraries, into the
  # same folder of each; a win build that has not been built is skipped.
  file(RELATIVE_PATH folder ${CMAKE_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR})
  add_custom_target(${P_NAME}_windows ALL
    COMMAND bash ${CMAKE_SOURCE_DIR}/cmake/assemble_windows.sh $<TARGET_FILE:assemble>
            ${CMAKE_BINARY_DIR}/images ${P_NAME} ${P_FOLDER_NAME} "${folder}"
            "${WIN_X64_DIR}" "${WIN_X86_DIR}" ${libraries}
    DEPENDS assemble image_${P_NAME}_x86-64 image_${P_NAME}_i386
    COMMENT "Assembling ${P_NAME} for win-x64 and win-x86"
    VERBATIM)
endfunction()
