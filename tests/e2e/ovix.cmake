# The layer-2 bridge end to end, inside private network namespaces (scripts/netns-run): the
# forwarding tests of ovix_tests (stand-in adapter, real TCP), and the programs: ovix.exe's
# command line and set-up failures, and ovix under Wine (stand-in adapter served by
# tap-standin.exe) bridged to the native Linux ovix with a real TAP interface.
if(TARGET ovix_tests)
  add_test(NAME e2e_ovix_forward
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/netns-run ${CMAKE_CURRENT_LIST_DIR}/ovix_e2e.sh
                   forward $<TARGET_FILE:ovix_tests>)
  set_tests_properties(e2e_ovix_forward PROPERTIES TIMEOUT 300 LABELS e2e)
endif()
if(TARGET ovix AND TARGET ovix_pipetap AND TARGET ovix_tap_standin)
  add_test(NAME e2e_ovix_programs
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/netns-run ${CMAKE_CURRENT_LIST_DIR}/ovix_e2e.sh
                   programs $<TARGET_FILE:ovix> $<TARGET_FILE:ovix_pipetap>
                   $<TARGET_FILE:ovix_tap_standin>)
  set_tests_properties(e2e_ovix_programs PROPERTIES TIMEOUT 300 LABELS e2e)
endif()
