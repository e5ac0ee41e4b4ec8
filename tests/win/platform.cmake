# The Windows support layer and the step-1 probes.
set(platform_src ${CMAKE_SOURCE_DIR}/src/platform)
set(envcheck_src ${CMAKE_SOURCE_DIR}/src/envcheck)
set(platform_tests ${CMAKE_CURRENT_SOURCE_DIR})

stackhold_win_test(platform_fs
  SOURCES ${platform_tests}/test_fs.cpp ${platform_src}/fs_win32.cpp ${platform_src}/acl_win32.cpp
          ${platform_src}/text_win32.cpp)

# A 16 MiB tmpfs as drive S: of a private prefix; skipped where mount is refused.
stackhold_win_test(platform_small_drive
  SOURCES ${platform_tests}/test_small_drive.cpp ${platform_src}/fs_win32.cpp
          ${platform_src}/acl_win32.cpp ${platform_src}/text_win32.cpp
  WRAPPER python3 ${platform_tests}/small_drive.py
  TIMEOUT 480)
set_tests_properties(win.platform_small_drive PROPERTIES SKIP_RETURN_CODE 77)

stackhold_win_test(platform_service
  SOURCES ${platform_tests}/test_service.cpp ${platform_src}/service_win32.cpp
          ${platform_src}/text_win32.cpp
  LOCKS mssqlserver-service
  TIMEOUT 180)
# The same program with Wine's in-process WMI (wbemprox) switched off for
# that one process, so that WMI cannot be asked and the service manager must
# answer in its place. A stopped winmgmt service would not do: in the test
# prefix it is stopped already and Wine's in-process WMI answers regardless.
add_test(NAME win.platform_service_no_wmi
  COMMAND env WINEDLLOVERRIDES=wbemprox=d ${CMAKE_CROSSCOMPILING_EMULATOR}
          $<TARGET_FILE:platform_service> --no-skip "--test-case=WMI unreachable*")
set_tests_properties(win.platform_service_no_wmi PROPERTIES TIMEOUT 120 LABELS win
  RESOURCE_LOCK mssqlserver-service)

stackhold_win_test(platform_random
  SOURCES ${platform_tests}/test_random.cpp ${platform_src}/random_win32.cpp)

stackhold_win_test(platform_wow64
  SOURCES ${platform_tests}/test_wow64.cpp ${platform_src}/wow64_win32.cpp)

stackhold_win_test(envcheck_tcp
  SOURCES ${platform_tests}/test_tcp.cpp ${envcheck_src}/tcp.cpp ${envcheck_src}/tcp_win32.cpp
  LIBS iphlpapi ws2_32
  LOCKS port1433)
set_tests_properties(win.envcheck_tcp PROPERTIES SKIP_RETURN_CODE 77)

# Reads the shared prefix's version, which other tests may switch under this lock.
stackhold_win_test(envcheck_version
  SOURCES ${platform_tests}/test_version.cpp ${envcheck_src}/version.cpp
          ${envcheck_src}/version_win32.cpp
  LOCKS wineprefix-version)

# The same test with the installer's own resources linked in, manifest and
# its list of supported systems included.
stackhold_win_test(envcheck_version_manifested
  SOURCES ${platform_tests}/test_version.cpp ${envcheck_src}/version.cpp
          ${envcheck_src}/version_win32.cpp ${CMAKE_SOURCE_DIR}/res/stackhold.rc
  LOCKS wineprefix-version)
target_compile_definitions(envcheck_version_manifested PRIVATE STACKHOLD_TEST_MANIFESTED)

# Both programs under Vista, Windows 8, 8.1, 10 and 7 in turn, switched with
# winecfg in a private prefix so that no other test sees the change.
add_test(NAME win.envcheck_version_switch
  COMMAND python3 ${platform_tests}/version_switch.py ${CMAKE_CROSSCOMPILING_EMULATOR}
          $<TARGET_FILE:envcheck_version> $<TARGET_FILE:envcheck_version_manifested>)
set_tests_properties(win.envcheck_version_switch PROPERTIES TIMEOUT 660 LABELS win)

# The pumping wait of the command runner and the HEAD request.
stackhold_win_test(platform_pump_wait
  SOURCES ${platform_tests}/test_pump_wait.cpp ${platform_tests}/test_pump.cpp
          ${platform_src}/pump_wait_win32.cpp ${platform_src}/text_win32.cpp
  TIMEOUT 60)

# The owner template of every handle kind.
stackhold_win_test(platform_handles
  SOURCES ${platform_tests}/test_handles.cpp
  LIBS gdi32)

# The package folder, the held package and the fresh batch file; the last
# case runs EnableNetFx35 whole, through the command runner.
stackhold_win_test(platform_protected
  SOURCES ${platform_tests}/test_protected_files.cpp ${platform_src}/fs_win32.cpp
          ${platform_src}/acl_win32.cpp ${platform_src}/text_win32.cpp ${platform_src}/wow64_win32.cpp
          ${platform_src}/pump_wait_win32.cpp ${platform_tests}/test_pump.cpp
          ${envcheck_src}/netfx.cpp ${envcheck_src}/netfx_win32.cpp ${envcheck_src}/version.cpp ${envcheck_src}/version_win32.cpp
          ${CMAKE_SOURCE_DIR}/src/setup/runner_win32.cpp
  TIMEOUT 180)
add_dependencies(platform_protected childprog)
