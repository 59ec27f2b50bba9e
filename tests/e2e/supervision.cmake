# Status poll end to end, inside private network namespaces (scripts/netns-run): poll-driver.exe
# under Wine polls the native appliance simulator in the appliance namespace, with the real
# Winsock transport, registry and CryptoAPI.
if(TARGET poll-driver)
  add_test(NAME e2e_supervision_poll
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/netns-run ${CMAKE_CURRENT_LIST_DIR}/supervision_e2e.sh
                   $<TARGET_FILE:poll-driver>
                   ${CMAKE_SOURCE_DIR}/tests/supervision/samples/appliance.vmx)
  set_tests_properties(e2e_supervision_poll PROPERTIES TIMEOUT 600 LABELS e2e)
endif()
