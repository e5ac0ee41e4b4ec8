# What the elevated installer trusts without having made it: the levels of
# the installation directory and the program's own folder. The wrapper
# stages foreign and writable objects from the Linux side.
stackhold_win_test(platform_trusted_folders
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_trusted_folders.cpp
          ${CMAKE_SOURCE_DIR}/src/platform/fs_win32.cpp ${CMAKE_SOURCE_DIR}/src/platform/acl_win32.cpp
          ${CMAKE_SOURCE_DIR}/src/platform/text_win32.cpp ${CMAKE_SOURCE_DIR}/src/platform/strings.cpp
          ${CMAKE_SOURCE_DIR}/src/platform/names.cpp ${CMAKE_SOURCE_DIR}/src/platform/device_names.cpp
          ${CMAKE_SOURCE_DIR}/src/settings/install_dir.cpp
          ${CMAKE_SOURCE_DIR}/src/envcheck/program_folder.cpp
          ${CMAKE_SOURCE_DIR}/src/envcheck/program_folder_win32.cpp
  WRAPPER python3 ${CMAKE_CURRENT_SOURCE_DIR}/trust_stage.py
  TIMEOUT 180)
