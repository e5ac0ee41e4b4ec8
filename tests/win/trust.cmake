# What the elevated installer trusts without having made it: the levels of
# the installation directory and the program's own folder. The wrapper
# stages foreign and writable objects from the Linux side.
stackhold_win_test(platform_trusted_folders
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_trusted_folders.cpp
  WRAPPER python3 ${CMAKE_CURRENT_SOURCE_DIR}/trust_stage.py
  TIMEOUT 180)
