# Delay-loaded imports.
#
# The loader resolves a program's ordinary imports before its first line
# runs, looking in the program's own folder first; only the "known DLLs"
# (kernel32, user32, ws2_32 ...) are immune to a DLL of the same name planted
# beside the program, which for an installer is often a Downloads folder.
# Every other system DLL the program links is therefore delay-loaded: it is
# loaded at its first call, after the entry point has restricted the search
# to the system folder.
#
# stackhold_delayload_lib(<out-var> <dll-name> <import-lib-name>)
#   Builds lib<import-lib-name>_delay.a from the toolchain's own import
#   library lib<import-lib-name>.a (its exports are read with nm, so the
#   list always matches the headers in use) and sets <out-var> to its path.
#   It also defines the interface target <import-lib-name>_delay, which links
#   that library and makes the linking target wait for it to be built: link
#   the target, not the path, from any directory.
#
# The same file run as a script (cmake -P) writes the .def file from the
# nm listing:  -DNM=<nm> -DIMPORT_LIB=<lib.a> -DDLL=<name.dll> -DDEF=<out.def>
#              -DDECORATED=<ON for i686, whose stdcall names end in @N>

if(CMAKE_SCRIPT_MODE_FILE)
  execute_process(COMMAND ${NM} ${IMPORT_LIB}
    OUTPUT_VARIABLE listing RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} ${IMPORT_LIB} failed: ${errors}")
  endif()
  string(REPLACE "\n" ";" lines "${listing}")
  # A function has both a thunk (T name) and an import slot (I __imp_name);
  # data exports have only the slot and cannot be delay-loaded, so they are
  # left out.
  set(thunks)
  set(slots)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-fA-F]* *T (.+)$")
      list(APPEND thunks "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^[0-9a-fA-F]* *I __imp_(.+)$")
      list(APPEND slots "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  set(exports)
  foreach(name IN LISTS slots)
    list(FIND thunks "${name}" at)
    if(at LESS 0)
      continue()
    endif()
    # i686 symbols carry the C underscore: _WinHttpOpen@20 -> WinHttpOpen@20.
    if(DECORATED AND name MATCHES "^_(.+)$")
      set(name "${CMAKE_MATCH_1}")
    endif()
    list(APPEND exports "${name}")
  endforeach()
  list(REMOVE_DUPLICATES exports)
  list(SORT exports)
  list(LENGTH exports count)
  if(count EQUAL 0)
    message(FATAL_ERROR "${IMPORT_LIB} lists no functions")
  endif()
  list(JOIN exports "\n" body)
  file(WRITE ${DEF} "LIBRARY ${DLL}\nEXPORTS\n${body}\n")
  return()
endif()

function(stackhold_delayload_lib out_var dll_name import_lib)
  find_library(STACKHOLD_IMPORT_LIB_${import_lib} NAMES lib${import_lib}.a NO_CACHE REQUIRED)
  set(lib_path ${STACKHOLD_IMPORT_LIB_${import_lib}})
  set(dir ${CMAKE_BINARY_DIR}/delayload)
  set(def ${dir}/${import_lib}.def)
  set(out ${dir}/lib${import_lib}_delay.a)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(decorated ON)
    # -k: the DLL exports WinHttpOpen, not WinHttpOpen@20.
    set(kill_at -k)
  else()
    set(decorated OFF)
    set(kill_at)
  endif()
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DIMPORT_LIB=${lib_path} -DDLL=${dll_name}
            -DDEF=${def} -DDECORATED=${decorated} -P ${CMAKE_SOURCE_DIR}/cmake/delayload.cmake
    COMMAND ${CMAKE_DLLTOOL} ${kill_at} --input-def ${def} --dllname ${dll_name}
            --output-delaylib ${out}
    DEPENDS ${lib_path} ${CMAKE_SOURCE_DIR}/cmake/delayload.cmake
    COMMENT "Delay-load library for ${dll_name}"
    VERBATIM)
  add_custom_target(${import_lib}_delay_build DEPENDS ${out})
  add_library(${import_lib}_delay INTERFACE)
  target_link_libraries(${import_lib}_delay INTERFACE ${out})
  add_dependencies(${import_lib}_delay ${import_lib}_delay_build)
  set(${out_var} ${out} PARENT_SCOPE)
endfunction()
