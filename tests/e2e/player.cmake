# VMware Player backend end to end, inside private network namespaces (scripts/netns-run): the
# stand-in Player and VM registered in a private Wine prefix, the appliance simulator switched on
# and off by the VM stand-in, shutdown request and Player close on stop.
if(TARGET vm_tests AND TARGET velmora_standin_gui)
  add_test(NAME e2e_player
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/netns-run ${CMAKE_CURRENT_LIST_DIR}/player_e2e.sh
                   $<TARGET_FILE:vm_tests> $<TARGET_FILE:velmora_standin_gui>)
  set_tests_properties(e2e_player PROPERTIES TIMEOUT 600 LABELS e2e)
endif()
