# The Windows stubs that an installation carries (x86_64 and i686), as files ready to
# install. A Windows build installs its own stub for its own processor; every other
# stub comes from VEK_STUB_<ARCH> when that names a built one, else is built here with
# that architecture's mingw-w64 toolchain as an external project of this same source
# tree (stub only: no tools, no tests).
include(ExternalProject)

set(VEK_STUB_FILES "")  # list of "arch=path" pairs

function(vek_stub arch toolchain compiler)
  set(VEK_STUB_${arch} "" CACHE FILEPATH "A built ${arch} Windows stub to install (empty: build it with mingw-w64)")
  if(WIN32 AND TARGET vekstub AND CMAKE_SYSTEM_PROCESSOR STREQUAL arch)
    set(file "$<TARGET_FILE:vekstub>")
  elseif(VEK_STUB_${arch} AND EXISTS "${VEK_STUB_${arch}}")
    set(file "${VEK_STUB_${arch}}")
    message(STATUS "Windows ${arch} stub: ${file}")
  else()
    if(VEK_STUB_${arch})
      message(STATUS "VEK_STUB_${arch}: no such file: ${VEK_STUB_${arch}}; building the stub here")
    endif()
    find_program(VEK_MINGW_${arch} NAMES ${compiler})
    if(NOT VEK_MINGW_${arch})
      message(WARNING
        "No ${compiler} (Debian: mingw-w64): the Windows ${arch} stub is not built and will not "
        "be installed, so an installed 'vekpack --sfx' cannot make self-extracting executables "
        "for ${arch}. Install mingw-w64 or set VEK_STUB_${arch} to a built vekstub.exe.")
      return()
    endif()
    set(dir ${CMAKE_BINARY_DIR}/stubs/${arch})
    if(CMAKE_GENERATOR MATCHES "Make")
      set(build $(MAKE) vekstub)  # a sub-make that shares the caller's job slots
    else()
      set(build ${CMAKE_COMMAND} --build ${dir} --target vekstub)
    endif()
    ExternalProject_Add(vekstub-${arch}
      SOURCE_DIR ${PROJECT_SOURCE_DIR}
      BINARY_DIR ${dir}
      CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/${toolchain}
        -DCMAKE_BUILD_TYPE=MinSizeRel
        -DVEK_BUILD_TESTS=OFF
        -DVEK_BUILD_TOOLS=OFF
        -DVEK_PACKAGING=OFF
      BUILD_COMMAND ${build}
      BUILD_ALWAYS ON
      INSTALL_COMMAND ""
      BUILD_BYPRODUCTS ${dir}/src/stub/vekstub.exe
      LOG_CONFIGURE ON)
    set(file ${dir}/src/stub/vekstub.exe)
    message(STATUS "Windows ${arch} stub: built with ${VEK_MINGW_${arch}}")
  endif()
  set(VEK_STUB_FILES ${VEK_STUB_FILES} "${arch}=${file}" PARENT_SCOPE)
endfunction()

vek_stub(x86_64 mingw-x86_64.cmake x86_64-w64-mingw32-g++-posix)
vek_stub(i686 mingw-i686.cmake i686-w64-mingw32-g++-posix)
