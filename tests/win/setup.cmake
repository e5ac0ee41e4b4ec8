# Steps 4 and 5: verification, notes file, Notepad, and the stand-ins for
# SQL Server setup, DISM and the SQLOLEDB provider.
set(setup_tests ${CMAKE_CURRENT_SOURCE_DIR})

# The stand-ins, run with the installer's command lines. They create the
# service MSSQLSERVER and the marker C:\stackhold-standin in the shared prefix
# (both removed again): lock mssqlserver-service.
stackhold_win_test(setup_standins
  SOURCES ${setup_tests}/test_setup_standins.cpp
  LIBS advapi32 ole32 oleaut32 wbemuuid
  LOCKS mssqlserver-service
  TIMEOUT 180)
add_dependencies(setup_standins setup_standin dism_standin)

# Registers the stand-in provider in the shared prefix for a while: lock
# sqloledb as well.
stackhold_win_test(setup_verify
  SOURCES ${setup_tests}/test_setup_verify.cpp
  LOCKS sqloledb mssqlserver-service
  TIMEOUT 120)
add_dependencies(setup_verify oledb_standin setup_standin dism_standin)

# The notes pieces under code page 936 (zh-CN), then the same program under a
# code page without Chinese (C.UTF-8, which Wine takes as en-US and code page
# 1252: en_US.UTF-8 is no locale of these machines, and without a UTF-8 locale
# Wine cannot name files in Chinese). Notepad needs a screen, which the
# shared prefix cannot give: each run gets a private prefix and an Xvfb.
stackhold_win_test(setup_notes
  SOURCES ${setup_tests}/test_setup_notes.cpp
  WRAPPER env STACKHOLD_EXPECT_ACP=936 LANG_FOR_WINE=zh_CN.UTF-8
          python3 ${setup_tests}/private_prefix.py --screen
  TIMEOUT 200)
add_test(NAME win.setup_notes_c
  COMMAND env STACKHOLD_EXPECT_ACP=1252 LANG_FOR_WINE=C.UTF-8
          python3 ${setup_tests}/private_prefix.py --screen
          ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:setup_notes>)
set_tests_properties(win.setup_notes_c PROPERTIES TIMEOUT 200 LABELS win)

# install_standins.py in a throw-away prefix of its own: install (twice),
# the pieces meeting as in an end-to-end run, uninstall.
add_test(NAME win.setup_install_standins
  COMMAND python3 ${setup_tests}/setup_standins_prefix.py
          --script ${CMAKE_SOURCE_DIR}/tests/fixtures/install_standins.py
          --build ${CMAKE_BINARY_DIR}
          --test-program $<TARGET_FILE:setup_verify>)
set_tests_properties(win.setup_install_standins PROPERTIES TIMEOUT 420 LABELS win)

# Setup's summary logs under the prefix's Program Files and the .NET 3.5
# registry entry, both changed for a while in the shared prefix.
stackhold_win_test(setup_log
  SOURCES ${setup_tests}/test_setup_log.cpp ${setup_tests}/event_pump_fake.cpp
  LIBS advapi32
  LOCKS sqlserver-setup-log netfx-registry
  TIMEOUT 120)
add_dependencies(setup_log dism_standin)
