# The window Main, its platform procedures and the folder chooser. These
# tests show real windows: each runs on its own Xvfb screen in a throw-away
# Wine prefix (gui_session.py), and the window tests run again at 144 DPI.
set(window_here ${CMAKE_CURRENT_LIST_DIR})
set(window_session python3 ${window_here}/gui_session.py --theme light)

stackhold_win_test(window
  SOURCES ${window_here}/test_window.cpp ${window_here}/window_handlers_fake.cpp
  WRAPPER ${window_session}
  TIMEOUT 180)

# The start as the program makes it, run by the window tests as a child.
stackhold_win_executable(window_start_probe
  SOURCES ${window_here}/window_start_probe.cpp ${window_here}/window_handlers_fake.cpp
          ${window_here}/window_probe.rc
  LIBS stackhold_win ${STACKHOLD_WIN_LIBS})
target_include_directories(window_start_probe PRIVATE ${CMAKE_SOURCE_DIR}/tests)
set_source_files_properties(${window_here}/window_probe.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/res/stackhold.manifest INCLUDE_DIRECTORIES ${CMAKE_SOURCE_DIR}/res)
add_dependencies(window window_start_probe)

add_test(NAME win.window_dpi144
  COMMAND ${window_session} --dpi 144 ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:window>)
set_tests_properties(win.window_dpi144 PROPERTIES TIMEOUT 180 LABELS win)

stackhold_win_test(browse
  SOURCES ${window_here}/test_browse.cpp
  WRAPPER ${window_session}
  TIMEOUT 180)
