# Building program images: application sources are compiled freestanding
# for i386 or x86-64 with the host compiler, linked by GNU ld with the SDK's
# linker script, and turned into an image by imagelink.
#
#   add_program_image(NAME probe ARCH x86-64 DESCRIPTION probe.desc SOURCES a.cpp b.cpp)
#     -> ${CMAKE_BINARY_DIR}/images/probe-x86-64.img, target image_probe_x86-64
#   add_program_elf(...) stops after the link (for tests of imagelink itself)
#     -> ${CMAKE_BINARY_DIR}/images/probe-x86-64.elf, target elf_probe_x86-64

set(IMAGE_SDK_DIR ${CMAKE_SOURCE_DIR}/image/sdk)
find_program(IMAGE_LD NAMES ld.bfd ld REQUIRED)

set(IMAGE_CXX_FLAGS
  -std=c++20 -O2 -ffreestanding -fno-exceptions -fno-rtti -fno-pic
  -fno-asynchronous-unwind-tables -fno-stack-protector -fno-threadsafe-statics
  -fexec-charset=GBK -ffunction-sections -fdata-sections
  -Wall -Wextra -Werror
  -I${IMAGE_SDK_DIR}/include -I${LAYER_ROOT_DIR}/program)

set(IMAGE_SDK_SOURCES
  ${IMAGE_SDK_DIR}/support/start.cpp
  ${IMAGE_SDK_DIR}/support/new.cpp
  ${IMAGE_SDK_DIR}/support/memory.cpp
  ${IMAGE_SDK_DIR}/support/cxa.cpp
  ${IMAGE_SDK_DIR}/support/help.S)

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
function(_image_compile out dir arch)
  _image_arch_settings(${arch})
  set(objects)
  foreach(source ${ARGN})
    get_filename_component(name ${source} NAME)
    set(object ${dir}/${name}.o)
    add_custom_command(
      OUTPUT ${object}
      COMMAND ${CMAKE_CXX_COMPILER} ${flags} ${IMAGE_CXX_FLAGS} -MD -MF ${object}.d -c ${source} -o ${object}
      DEPENDS ${source}
      DEPFILE ${object}.d
      COMMENT "Compiling ${name} for a ${arch} image"
      VERBATIM)
    list(APPEND objects ${object})
  endforeach()
  set(${out} ${objects} PARENT_SCOPE)
endfunction()

function(_image_elf name arch description out_elf out_dir)
  set(dir ${CMAKE_BINARY_DIR}/images/${name}-${arch})
  set(${out_dir} ${dir} PARENT_SCOPE)
  _image_arch_settings(${arch})
  add_custom_command(
    OUTPUT ${dir}/form.S ${dir}/handlers.ld ${dir}/form.bin
    COMMAND imagelink prepare --description ${description} --out-dir ${dir}
    DEPENDS imagelink ${description}
    COMMENT "Preparing the forms of ${name} (${arch})"
    VERBATIM)
  _image_compile(objects ${dir} ${arch} ${ARGN} ${IMAGE_SDK_SOURCES} ${thunks} ${dir}/form.S)
  set(elf ${CMAKE_BINARY_DIR}/images/${name}-${arch}.elf)
  add_custom_command(
    OUTPUT ${elf}
    COMMAND ${IMAGE_LD} -m ${emulation} -T ${IMAGE_SDK_DIR}/image.ld ${dir}/handlers.ld
            --emit-relocs --gc-sections --unresolved-symbols=ignore-all -static -nostdlib
            -o ${elf} ${objects}
    DEPENDS ${objects} ${IMAGE_SDK_DIR}/image.ld ${dir}/handlers.ld
    COMMENT "Linking ${name} (${arch})"
    VERBATIM)
  set(${out_elf} ${elf} PARENT_SCOPE)
endfunction()

function(add_program_elf)
  cmake_parse_arguments(P "" "NAME;ARCH;DESCRIPTION" "SOURCES" ${ARGN})
  _image_elf(${P_NAME} ${P_ARCH} ${P_DESCRIPTION} elf dir ${P_SOURCES})
  add_custom_target(elf_${P_NAME}_${P_ARCH} ALL DEPENDS ${elf})
endfunction()

function(add_program_image)
  cmake_parse_arguments(P "" "NAME;ARCH;DESCRIPTION" "SOURCES" ${ARGN})
  _image_elf(${P_NAME} ${P_ARCH} ${P_DESCRIPTION} elf dir ${P_SOURCES})
  set(image ${CMAKE_BINARY_DIR}/images/${P_NAME}-${P_ARCH}.img)
  add_custom_command(
    OUTPUT ${image}
    COMMAND imagelink link --description ${P_DESCRIPTION} --elf ${elf} --out ${image}
    DEPENDS imagelink ${elf} ${P_DESCRIPTION}
    COMMENT "Making the image ${P_NAME}-${P_ARCH}.img"
    VERBATIM)
  add_custom_target(image_${P_NAME}_${P_ARCH} ALL DEPENDS ${image})
endfunction()
