# Project-wide compile settings and helpers.

set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

# Windows XP is the oldest system the programs must load on.
add_compile_definitions(
  UNICODE _UNICODE
  WINVER=0x0501 _WIN32_WINNT=0x0501 _WIN32_IE=0x0600
  NOMINMAX WIN32_LEAN_AND_MEAN
)
add_compile_options(-Wall -Wextra -Werror)
# Each function and object in a section of its own, so that the linker can
# drop what a program never uses. It can only for objects without unwind
# tables (libbz2's, see Dependencies.cmake) and for data: the MinGW linker
# keeps every .eh_frame, and each object's refers to all its functions, so of
# a C++ object that is linked at all, every function stays. Code that a
# program must not carry therefore goes into files of its own.
add_compile_options(-ffunction-sections -fdata-sections)
add_link_options(-Wl,--gc-sections)
# Statically linked: no DLL besides the system's own beside the programs.
add_link_options(-static -static-libgcc -static-libstdc++)

# Reproducible programs: the same sources and tools give the same bytes in any
# build folder. The PE time stamp is SOURCE_DATE_EPOCH when the build has one
# (the linker reads it), else zero; file names in the code are relative to
# the source and build folders. The build folder is mapped last, since GCC
# takes the last map that matches and the build folder may lie inside the
# sources.
set(VELTRANO_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}" CACHE STRING
  "PE time stamp of the built programs, in seconds since 1970 (empty: zero)")
if(VELTRANO_SOURCE_DATE_EPOCH)
  foreach(lang C CXX)
    set(CMAKE_${lang}_LINKER_LAUNCHER
      ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${VELTRANO_SOURCE_DATE_EPOCH})
  endforeach()
else()
  add_link_options(-Wl,--no-insert-timestamp)
endif()
add_compile_options(
  $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>
  $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>)

include(${CMAKE_CURRENT_LIST_DIR}/VeltranoLayers.cmake)

# veltrano_library(NAME SOURCES... [HEADERS ...] [LIBS ...]): a static library
# of one subsystem, alone in its folder. Its public headers live in
# <folder>/include; HEADERS names them for readers of the target.
function(veltrano_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;HEADERS;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
  if(ARG_LIBS)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  endif()
  if(ARG_HEADERS)
    set_target_properties(${name} PROPERTIES VELTRANO_HEADERS "${ARG_HEADERS}")
  endif()
  veltrano_register_library(${name})
endfunction()

# On a host whose kernel runs no 32-bit program, the 32-bit flavour's
# programs run under processor emulation (scripts/setup.sh sets it up), where
# they take up to four or five times as long. The time-outs of the tests that
# run Windows programs grow by VELTRANO_EMULATED_TIMEOUT_SCALE there, so that
# they still catch a hang without failing a slow but sound run; natively they
# stay as set.
set(VELTRANO_EMULATED_TIMEOUT_SCALE 3 CACHE STRING "Factor on the Windows tests' time-outs under emulation")
set(VELTRANO_TIMEOUT_SCALE 1)
if(VELTRANO_FLAVOUR STREQUAL "x86")
  execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/host-runs 32 --native RESULT_VARIABLE _native32)
  if(NOT _native32 EQUAL 0)
    set(VELTRANO_TIMEOUT_SCALE ${VELTRANO_EMULATED_TIMEOUT_SCALE})
    message(STATUS "32-bit programs run under emulation here: their tests' time-outs x${VELTRANO_TIMEOUT_SCALE}")
  endif()
endif()

# veltrano_windows_test_timeout(TEST SECONDS): the time-out of a test that
# runs the build's Windows programs, in seconds on a host that runs them
# natively.
function(veltrano_windows_test_timeout test seconds)
  math(EXPR seconds "${seconds} * ${VELTRANO_TIMEOUT_SCALE}")
  set_tests_properties(${test} PROPERTIES TIMEOUT ${seconds})
endfunction()

# veltrano_test(NAME SOURCES... [LIBS ...]): one GoogleTest program, run by ctest under Wine.
function(veltrano_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} veltrano_gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  veltrano_windows_test_timeout(${name} ${ARG_TIMEOUT})
endfunction()

# veltrano_shipped_program(TARGET): a program we hand to customers. Its import
# table is checked against the functions Windows XP lacks.
function(veltrano_shipped_program target)
  set_property(GLOBAL APPEND PROPERTY VELTRANO_SHIPPED_PROGRAMS ${target})
endfunction()

# veltrano_launcher_program(TARGET): a setup launcher, which must load on
# Windows 2000 SP4: its import table is also checked against the functions
# Windows 2000 lacks.
function(veltrano_launcher_program target)
  set_property(GLOBAL APPEND PROPERTY VELTRANO_LAUNCHER_PROGRAMS ${target})
endfunction()

# veltrano_static_check(TEST...): tests that only read the built files and
# run nothing of the flavour's Windows programs. A host that cannot run
# 32-bit programs still runs these for the 32-bit flavour (ctest -L static).
function(veltrano_static_check)
  set_tests_properties(${ARGN} PROPERTIES LABELS static)
endfunction()

# The oldest Windows of the flavour, for the import checks: Windows XP for
# the 32-bit programs (and Windows 2000 SP4 for its launcher), Windows XP x64
# / Server 2003 x64 (NT 5.2) for the 64-bit ones. XP x64 has every function
# of 32-bit XP, so the XP deny-list serves both.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(VELTRANO_OLDEST_CHECK --system "Windows XP x64" --max-subsystem 5.2
      --deny ${CMAKE_SOURCE_DIR}/tests/post-xp-functions.txt)
else()
  set(VELTRANO_OLDEST_CHECK --max-subsystem 5.1
      --deny ${CMAKE_SOURCE_DIR}/tests/post-xp-functions.txt)
endif()

# The check-imports arguments for the Windows 2000 check: both deny-lists, and
# a header that the Windows 2000 loader accepts. 32-bit flavour only: there
# is no 64-bit Windows 2000.
set(VELTRANO_WIN2000_CHECK
    --max-subsystem 5.0
    --deny ${CMAKE_SOURCE_DIR}/tests/post-xp-functions.txt
    --system "Windows 2000 SP4" --deny ${CMAKE_SOURCE_DIR}/tests/post-win2000-functions.txt)

# _veltrano_program_files(OUT TARGET...): the programs' files: a linked
# program's own, or a stamped setup's (veltrano_add_setup's custom target).
function(_veltrano_program_files out)
  set(files "")
  foreach(target IN LISTS ARGN)
    get_target_property(setup_file ${target} VELTRANO_SETUP_FILE)
    if(setup_file)
      list(APPEND files ${setup_file})
    else()
      list(APPEND files $<TARGET_FILE:${target}>)
    endif()
  endforeach()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

function(veltrano_add_import_check)
  get_property(programs GLOBAL PROPERTY VELTRANO_SHIPPED_PROGRAMS)
  if(NOT programs)
    return()
  endif()
  _veltrano_program_files(files ${programs})
  add_test(NAME xp_import_table
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-imports --objdump ${CMAKE_OBJDUMP}
            ${VELTRANO_OLDEST_CHECK} ${files})
  veltrano_static_check(xp_import_table)

  get_property(launchers GLOBAL PROPERTY VELTRANO_LAUNCHER_PROGRAMS)
  if(launchers AND NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
    _veltrano_program_files(files ${launchers})
    add_test(NAME win2000_import_table
      COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-imports --objdump ${CMAKE_OBJDUMP}
              ${VELTRANO_WIN2000_CHECK} ${files})
    veltrano_static_check(win2000_import_table)
  endif()
endfunction()

# veltrano_check_dll_allowlist(TARGET): the program may import only DLLs that
# Windows always takes from its system folder (tests/known-dlls.txt); all
# others must be loaded at run time from the system folder.
function(veltrano_check_dll_allowlist target)
  _veltrano_program_files(file ${target})
  add_test(NAME ${target}_dll_allowlist
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-imports --objdump ${CMAKE_OBJDUMP}
            --deny ${CMAKE_SOURCE_DIR}/tests/post-xp-functions.txt
            --allow-dlls ${CMAKE_SOURCE_DIR}/tests/known-dlls.txt ${file})
  veltrano_static_check(${target}_dll_allowlist)
endfunction()
