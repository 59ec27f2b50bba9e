# The whole program end to end under Wine and Xvfb, inside private network namespaces: the VMware
# Player stand-ins registered in the private prefix, Velmora.exe started, stopped and restarted
# while the VM runs, against the appliance simulator. Screenshots go to
# <build>/tests/e2e/screenshots/velmora. Run under xvfb-run (the test needs DISPLAY).
if(TARGET Velmora AND TARGET velmora_ui_driver AND TARGET velmora_standin_gui)
  add_test(NAME e2e_velmora
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/netns-run ${CMAKE_CURRENT_LIST_DIR}/velmora_e2e.sh
                   $<TARGET_FILE:Velmora> $<TARGET_FILE:velmora_ui_driver>
                   $<TARGET_FILE:velmora_standin_gui> ${CMAKE_CURRENT_BINARY_DIR}/screenshots/velmora)
  # Real clicks and screenshots on the shared X display: one such test at a time.
  set_tests_properties(e2e_velmora PROPERTIES TIMEOUT 600 LABELS e2e RESOURCE_LOCK x_display)
endif()
