# Safe DLL loading of the shipped programs: no DLL outside the known ones in
# their ordinary import tables, every delay-loaded function with its thunk,
# and no DLL planted beside them loaded.
set(hardening_here ${CMAKE_CURRENT_LIST_DIR})

set(hardening_programs $<TARGET_FILE:Stackhold>)
if(TARGET wget)
  list(APPEND hardening_programs $<TARGET_FILE:wget>)
endif()
add_test(NAME win.hardening_imports
  COMMAND python3 ${hardening_here}/check_imports.py --objdump ${CMAKE_OBJDUMP}
          --nm ${CMAKE_NM} --delay-defs ${CMAKE_BINARY_DIR}/delayload
          --control $<TARGET_FILE:dllprobe_static> ${hardening_programs})
set_tests_properties(win.hardening_imports PROPERTIES TIMEOUT 120 LABELS win)

if(TARGET wget)
  stackhold_win_test(hardening_dlls
    SOURCES ${hardening_here}/test_hardening.cpp
    TIMEOUT 240)
  add_dependencies(hardening_dlls planted dllprobe dllprobe_static Stackhold wget)
  # Wine loads a DLL found beside a program only where told to prefer it;
  # its children inherit the setting.
  set_tests_properties(win.hardening_dlls PROPERTIES ENVIRONMENT
    "WINEDLLOVERRIDES=winhttp,crypt32,wintrust,bcrypt,iphlpapi,version,comctl32=n,b")
endif()
