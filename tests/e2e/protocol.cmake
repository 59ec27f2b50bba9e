# Appliance protocol end to end, inside private network namespaces (scripts/netns-run): the
# Winsock transport's datagram tests, and status-query.exe under Wine against the native
# appliance simulator in the appliance namespace.
if(TARGET protocol_tests)
  add_test(NAME e2e_protocol_transport
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/netns-run ${CMAKE_CURRENT_LIST_DIR}/protocol_e2e.sh
                   transport $<TARGET_FILE:protocol_tests>)
  set_tests_properties(e2e_protocol_transport PROPERTIES TIMEOUT 300 LABELS e2e)
endif()
if(TARGET status-query)
  add_test(NAME e2e_protocol_status
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/netns-run ${CMAKE_CURRENT_LIST_DIR}/protocol_e2e.sh
                   status $<TARGET_FILE:status-query>)
  set_tests_properties(e2e_protocol_status PROPERTIES TIMEOUT 600 LABELS e2e)
endif()
