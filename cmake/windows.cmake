# The Windows program, its adapters, the download tool and the Windows-side tests.
# WINIMPM empty: wincrypt.h declares crypt32's functions dllimport, and a
# call through the import slot alone lets GNU ld drop the delay-load thunk
# that slot must start out pointing to (binutils bug 14339; on i686 the
# first call then jumps to address 0). Declared plainly, they are called
# through the thunk, which stays.
set(STACKHOLD_WIN_DEFINES UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=0x0601 WINVER=0x0601 __USE_MINGW_ANSI_STDIO=0 WINIMPM=)
# Static, msvcrt-based, no timestamp in the PE header (reproducible builds),
# ASLR and DEP on.
set(STACKHOLD_WIN_LINK -static -static-libgcc -static-libstdc++
    -Wl,--no-insert-timestamp -Wl,--dynamicbase -Wl,--nxcompat)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  list(APPEND STACKHOLD_WIN_LINK -Wl,--high-entropy-va)
endif()
# System DLLs outside the "known DLLs" are delay-loaded (cmake/delayload.cmake):
# a DLL planted beside the program must not be loaded before wWinMain has
# restricted the search to the system folder. comctl32 comes from the
# side-by-side store named in the manifest.
include(${CMAKE_CURRENT_LIST_DIR}/delayload.cmake)
foreach(lib winhttp wintrust crypt32 bcrypt iphlpapi)
  stackhold_delayload_lib(delay_lib_path ${lib}.dll ${lib})
endforeach()
set(STACKHOLD_WIN_LIBS comctl32 winhttp_delay iphlpapi_delay ws2_32 ole32 oleaut32 uuid shell32
    wbemuuid wintrust_delay crypt32_delay bcrypt_delay gdi32 user32 kernel32 advapi32)

target_compile_definitions(stackhold_core PUBLIC ${STACKHOLD_WIN_DEFINES})

# The Win32 adapters and the portable core in one static library, built
# once: the program, the download tool and the Windows-side tests link it,
# and the linker takes from it the objects each of them calls. A test's own
# stand-in (an event pump, the step handlers as counters) comes first on the
# link line, so the library's member for the same function is not taken.
file(GLOB STACKHOLD_WIN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/*/*_win32.cpp)
list(REMOVE_ITEM STACKHOLD_WIN_SOURCES ${CMAKE_SOURCE_DIR}/src/wizard/winmain_win32.cpp)
add_library(stackhold_win STATIC ${STACKHOLD_WIN_SOURCES})
target_link_libraries(stackhold_win PUBLIC stackhold_core)
target_compile_options(stackhold_win PRIVATE ${STACKHOLD_WARNINGS})

add_executable(Stackhold WIN32
  ${CMAKE_SOURCE_DIR}/src/wizard/winmain_win32.cpp
  ${CMAKE_SOURCE_DIR}/res/stackhold.rc)
# The program takes every object: the delay-load hook (platform/
# delay_load_win32.cpp) is read by the runtime's helper, never called by
# name, and would otherwise be left out.
target_link_libraries(Stackhold PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,stackhold_win>" ${STACKHOLD_WIN_LIBS})
# The resource script pulls in the manifest and the icon (drawn by
# res/make_icon.py); the version numbers are the project's.
set_source_files_properties(${CMAKE_SOURCE_DIR}/res/stackhold.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/res/stackhold.manifest;${CMAKE_SOURCE_DIR}/res/stackhold.ico"
  COMPILE_DEFINITIONS "STACKHOLD_VERSION_MAJOR=${PROJECT_VERSION_MAJOR};STACKHOLD_VERSION_MINOR=${PROJECT_VERSION_MINOR};STACKHOLD_VERSION_PATCH=${PROJECT_VERSION_PATCH}")
target_link_options(Stackhold PRIVATE -municode ${STACKHOLD_WIN_LINK})
target_compile_options(Stackhold PRIVATE ${STACKHOLD_WARNINGS})
set_target_properties(Stackhold PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# stackhold_win_executable(<name> SOURCES <files...> [WIN32 | SHARED]
#                          [LIBS <libs...>] [OUTPUT_DIR <dir>] [OUTPUT_NAME <name>])
# A Windows program (or with SHARED a DLL, named without "lib") of the test
# fixtures and the end-to-end driver, compiled and linked like the product:
# its defines, warnings and static, timestamp-free link; src/ on the include
# path. WIN32 makes a GUI program; OUTPUT_DIR is where it is put.
function(stackhold_win_executable name)
  cmake_parse_arguments(E "WIN32;SHARED" "OUTPUT_DIR;OUTPUT_NAME" "SOURCES;LIBS" ${ARGN})
  if(E_SHARED)
    add_library(${name} SHARED ${E_SOURCES})
    set_target_properties(${name} PROPERTIES PREFIX "")
  else()
    if(E_WIN32)
      add_executable(${name} WIN32 ${E_SOURCES})
    else()
      add_executable(${name} ${E_SOURCES})
    endif()
    target_link_options(${name} PRIVATE -municode)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_compile_definitions(${name} PRIVATE ${STACKHOLD_WIN_DEFINES})
  target_compile_options(${name} PRIVATE ${STACKHOLD_WARNINGS})
  target_link_libraries(${name} PRIVATE ${E_LIBS})
  target_link_options(${name} PRIVATE ${STACKHOLD_WIN_LINK})
  if(E_OUTPUT_DIR)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${E_OUTPUT_DIR}
      LIBRARY_OUTPUT_DIRECTORY ${E_OUTPUT_DIR})
  endif()
  if(E_OUTPUT_NAME)
    set_target_properties(${name} PROPERTIES OUTPUT_NAME ${E_OUTPUT_NAME})
  endif()
endfunction()

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/wget/CMakeLists.txt)
  add_subdirectory(tools/wget)
endif()

if(STACKHOLD_TESTS)
  enable_testing()
  # Stand-in programs and DLLs for the tests, one folder each.
  file(GLOB fixture_dirs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fixtures/*/CMakeLists.txt)
  foreach(f ${fixture_dirs})
    get_filename_component(d ${f} DIRECTORY)
    add_subdirectory(${d})
  endforeach()
  add_subdirectory(tests/win)
  if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/CMakeLists.txt)
    add_subdirectory(tests/e2e)
  endif()
  if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wget/CMakeLists.txt)
    add_subdirectory(tests/wget)
  endif()
endif()
