# vemora_add_module(<target> <file name> SOURCES ...)
# Builds a shared library that lands in build/bin/ under the exact file name
# the program looks for ("usbwire.dll", "VemoProc.Plg"), without "lib" or ".so".
function(vemora_add_module target file_name)
  cmake_parse_arguments(ARG "" "" "SOURCES" ${ARGN})
  add_library(${target} MODULE ${ARG_SOURCES})
  get_filename_component(stem ${file_name} NAME_WLE)
  get_filename_component(ext ${file_name} LAST_EXT)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${stem}
    SUFFIX ${ext})
  target_link_options(${target} PRIVATE -Wl,--no-undefined)
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
endfunction()
