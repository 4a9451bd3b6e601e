# With VEMORA_SANITIZE everything is built with AddressSanitizer and
# UndefinedBehaviorSanitizer, and any finding ends the program; with
# VEMORA_TSAN everything is built with ThreadSanitizer (the two cannot share a
# program). A program that is not built so (lua5.1) or that preloads libraries
# of its own must load the sanitizer runtimes first: VEMORA_SANITIZER_PRELOAD
# holds them as the start of an LD_PRELOAD list ("a.so:b.so:"), and is empty
# otherwise.
set(VEMORA_SANITIZER_PRELOAD "")
set(sanitizer_runtimes "")
if(VEMORA_SANITIZE AND VEMORA_TSAN)
  message(FATAL_ERROR "VEMORA_SANITIZE and VEMORA_TSAN cannot be on in one build")
elseif(VEMORA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  set(sanitizer_runtimes libasan.so libubsan.so)
elseif(VEMORA_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
  set(sanitizer_runtimes libtsan.so)
endif()
foreach(runtime IN LISTS sanitizer_runtimes)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} has no ${runtime}")
  endif()
  string(APPEND VEMORA_SANITIZER_PRELOAD "${path}:")
endforeach()

# With VEMORA_FUZZ (clang only) everything is built for libFuzzer: coverage
# for the fuzzer, AddressSanitizer and UndefinedBehaviorSanitizer, and any
# finding ends the program. The fuzz targets of fuzz/ link the fuzzer's main.
# clang puts the sanitizer runtime into programs only, so shared libraries
# leave its names to the program that loads them: VEMORA_NO_UNDEFINED, the
# link option that refuses undefined names in a shared library, is empty then.
set(VEMORA_NO_UNDEFINED -Wl,--no-undefined)
if(VEMORA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VEMORA_FUZZ needs clang (CC=clang-14 CXX=clang++-14)")
  endif()
  # Optimised a little for speed, with line tables for the reports; the
  # exports that hand a CBCString across extern "C" are contract (clang warns).
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined -O1 -gline-tables-only -Wno-return-type-c-linkage)
  add_link_options(-fsanitize=address,undefined)
  set(VEMORA_NO_UNDEFINED "")
endif()

# vemora_add_module(<target> <file name> SOURCES ... [EXPORTS <list>])
# Builds a shared library that lands in build/bin/ under the exact file name
# the program looks for ("usbwire.dll", "VemoProc.Plg"), without "lib" or ".so".
# EXPORTS names the library's contract list (see vemora_limit_exports).
function(vemora_add_module target file_name)
  cmake_parse_arguments(ARG "" "EXPORTS" "SOURCES" ${ARGN})
  add_library(${target} MODULE ${ARG_SOURCES})
  get_filename_component(stem ${file_name} NAME_WLE)
  get_filename_component(ext ${file_name} LAST_EXT)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${stem}
    SUFFIX ${ext})
  # Nothing of a static archive linked in (vemora_base) is ever exported.
  target_link_options(${target} PRIVATE ${VEMORA_NO_UNDEFINED} -Wl,--exclude-libs,ALL)
  if(ARG_EXPORTS)
    vemora_limit_exports(${target} "${file_name}" ${ARG_EXPORTS})
  endif()
endfunction()

# vemora_limit_exports(<target> <file name> <list>)
# Hidden visibility still lets the std:: templates a library instantiates
# into its dynamic symbol table, so the contract is enforced at link time:
# a version script made from <list> exports exactly the names listed there.
# The list has one name a line ('#' starts a comment): plain C names, and
# demangled C++ names for the classes a library deliberately exports, where
# "Class::*" stands for all of a class's members and names with a space
# ("vtable for Class") are taken as they are. With the tests on, the test
# "exports.<file name>" checks the built file against the same list.
function(vemora_limit_exports target file_name list)
  get_filename_component(list ${list} ABSOLUTE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list})
  file(STRINGS ${list} lines)
  set(c_names "")
  set(cxx_names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(line STREQUAL "")
      continue()
    elseif(line MATCHES " ")
      string(APPEND cxx_names "      \"${line}\";\n")
    elseif(line MATCHES "::")
      string(APPEND cxx_names "      ${line};\n")
    else()
      string(APPEND c_names "    ${line};\n")
    endif()
  endforeach()
  set(script "{\n  global:\n${c_names}")
  if(cxx_names)
    string(APPEND script "    extern \"C++\" {\n${cxx_names}    };\n")
  endif()
  string(APPEND script "  local: *;\n};\n")
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports.map)
  file(CONFIGURE OUTPUT ${map} CONTENT "${script}" @ONLY)
  target_link_options(${target} PRIVATE -Wl,--version-script=${map})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
  if(VEMORA_TESTS AND NOT VEMORA_TSAN)
    add_test(NAME exports.${file_name}
      COMMAND ${CMAKE_SOURCE_DIR}/tools/check-exports.sh $<TARGET_FILE:${target}> ${list})
  endif()
endfunction()

# vemora_add_lua_test(<name> <script> [ARGS ...])
# Runs a Lua 5.1 script with the stock interpreter from build/bin/, where the
# script libraries are found with package.loadlib("./x.dll", ...) as tool
# scripts find them.
function(vemora_add_lua_test name script)
  cmake_parse_arguments(ARG "" "" "ARGS" ${ARGN})
  add_test(NAME ${name}
    COMMAND ${LUA51_INTERPRETER} ${script} ${ARG_ARGS}
    WORKING_DIRECTORY ${VEMORA_BIN_DIR})
  if(VEMORA_SANITIZER_PRELOAD)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "LD_PRELOAD=${VEMORA_SANITIZER_PRELOAD}")
  endif()
endfunction()
