# The windowed program end to end under Wine and Xvfb, inside private network namespaces
# (scripts/netns-run, which also gives it a private Wine prefix): start-up errors, the single
# instance per VMX file, the conflicting-instance box, the tray icon with its menu and double
# click, and the xstatus report. Dialogs are read and answered by ui-driver.exe; screenshots go to
# <build>/tests/e2e/screenshots. Run under xvfb-run (the test needs DISPLAY).
if(TARGET Velmora AND TARGET velmora_harness AND TARGET velmora_ui_driver)
  add_test(NAME e2e_shell
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/netns-run ${CMAKE_CURRENT_LIST_DIR}/shell_e2e.sh
                   $<TARGET_FILE:Velmora> $<TARGET_FILE:velmora_harness>
                   $<TARGET_FILE:velmora_ui_driver> $<TARGET_FILE:velmora_standin>
                   ${CMAKE_CURRENT_BINARY_DIR}/screenshots)
  # Real clicks and screenshots on the shared X display: one such test at a time.
  set_tests_properties(e2e_shell PROPERTIES TIMEOUT 600 LABELS e2e RESOURCE_LOCK x_display)
endif()
