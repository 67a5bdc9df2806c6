# The one rule that shapes the source tree: what the Windows stub links may use
# neither C++ exceptions nor the standard library's strings and containers, which
# would bring their runtime into a program that must stay within 90 KiB (the sizes:
# bench/RESULTS.md). The folders that obey it (src/format, src/install, src/startmenu,
# src/stub and the stub's half of src/platform) build their sources with
# vek_stub_safe_library; src/pack and tools/ build ordinary libraries.

# How the stub's code is compiled: for size, without the exception runtime, RTTI or
# thread-safe statics, each function in a section of its own for the linker to drop,
# and optimised once more across all of it at link time; without inflate (inflate.h).
# No partial inlining (the copies of a function's head it makes cost more than the
# calls) and no saving of registers around calls: 448 bytes of x86_64 code (GCC 12).
# Nor the passes that -Oz still runs for speed (VEK_STUB_SPEED_PASSES), which cost
# code more than they gain elsewhere; the hot loops (the LZMA decoder, CRC-32) keep
# them, see below.
set(VEK_STUB_SPEED_PASSES
  early-inlining expensive-optimizations shrink-wrap tree-tail-merge move-loop-invariants
  tree-dominator-opts if-conversion forward-propagate)
list(TRANSFORM VEK_STUB_SPEED_PASSES PREPEND "-fno-" OUTPUT_VARIABLE VEK_STUB_WITHOUT_SPEED_PASSES)
set(VEK_STUB_COMPILE_OPTIONS
  -Oz -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-asynchronous-unwind-tables
  -ffunction-sections -fdata-sections -flto -fno-jump-tables -fno-partial-inlining -fno-caller-saves
  ${VEK_STUB_WITHOUT_SPEED_PASSES} -DVEK_NO_INFLATE)
# A source whose loops set the stub's speed runs them all the same (in every library
# that builds it, where they are on anyway); the optimisations are kept per function
# through link-time optimisation.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(TRANSFORM VEK_STUB_SPEED_PASSES PREPEND "-f" OUTPUT_VARIABLE VEK_STUB_HOT_OPTIONS)
else()
  set(VEK_STUB_HOT_OPTIONS "")
endif()

# vek_stub_safe_library(NAME SOURCES... [DEPENDS targets...] [STUB_OPTIONS options...])
#
# NAME: a static library of the sources for vek, vekpack and the tests, compiled as the
# build's other code. In a Windows build also NAME_stub: an object library of the same
# sources compiled with the stub's options (and STUB_OPTIONS), which vekstub links.
# DEPENDS: what the library uses; a dependency that has a _stub twin gives it to
# NAME_stub, any other (a system library) is used as it is.
function(vek_stub_safe_library name)
  cmake_parse_arguments(L "" "" "SOURCES;DEPENDS;STUB_OPTIONS" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${L_DEPENDS})
  if(WIN32)
    add_library(${name}_stub OBJECT ${L_SOURCES})
    target_include_directories(${name}_stub PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    foreach(dependency ${L_DEPENDS})
      if(TARGET ${dependency}_stub)
        target_link_libraries(${name}_stub PUBLIC ${dependency}_stub)
      else()
        target_link_libraries(${name}_stub PUBLIC ${dependency})
      endif()
    endforeach()
    target_compile_options(${name}_stub PRIVATE
      $<$<COMPILE_LANGUAGE:CXX>:${VEK_STUB_COMPILE_OPTIONS} ${L_STUB_OPTIONS}>)
  endif()
endfunction()
