# Tests of the download-side adapters: the command runner, the process killer,
# the HTTP client and the signature check.
set(dl_here ${CMAKE_CURRENT_LIST_DIR})
# The waits that keep the window's events flowing, with the test's pump.
set(dl_pumping ${dl_here}/event_pump_fake.cpp)

stackhold_win_test(runner
  SOURCES ${dl_here}/test_runner.cpp ${dl_pumping}
  TIMEOUT 120)
add_dependencies(runner childprog)

# In a prefix of its own: stopping "wget.exe" in the shared prefix would stop
# the download tool of whatever other test runs there at the same time.
stackhold_win_test(kill_process
  SOURCES ${dl_here}/test_kill.cpp
  WRAPPER python3 ${dl_here}/private_prefix.py
  TIMEOUT 150)
add_dependencies(kill_process childprog)

set(dl_servers python3 ${dl_here}/download_servers.py
    --source ${CMAKE_SOURCE_DIR} --build ${CMAKE_BINARY_DIR})

# http_timeouts: a silent server costs one receive limit (30 s) per request,
# kept apart from http so that it runs beside the other tests.
foreach(t http http_timeouts)
  stackhold_win_test(${t}
    SOURCES ${dl_here}/test_${t}.cpp ${dl_pumping}
    WRAPPER ${dl_servers} --http --timeout 170 --
    TIMEOUT 180)
  add_dependencies(${t} certtool)
endforeach()

stackhold_win_test(signature
  SOURCES ${dl_here}/test_signature.cpp
  WRAPPER ${dl_servers} --sign --timeout 110 --
  TIMEOUT 120)
add_dependencies(signature certtool childprog)

# The service request ends on a body trickled out for ever.
stackhold_win_test(http_trickle
  SOURCES ${dl_here}/test_http_trickle.cpp ${dl_pumping}
  WRAPPER ${dl_servers} --faults --timeout 150 --
  TIMEOUT 180)

# The slow ones start first, so the quick ones fill the other slots; the
# trickle test mostly waits out the server's trickle.
set_tests_properties(win.http_timeouts win.http_trickle PROPERTIES COST 500)
