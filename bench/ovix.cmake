# ovix: the record stream's reassembly speed, and the small-frame load generator that
# bench/ovix_bridge.sh uses for the frame-rate comparison.
add_executable(bench_ovix ${CMAKE_CURRENT_SOURCE_DIR}/ovix_bench.cpp)
target_link_libraries(bench_ovix PRIVATE velmora_ovix benchmark::benchmark)
set_target_properties(bench_ovix PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  add_executable(ovix_udp_flood ${CMAKE_CURRENT_SOURCE_DIR}/ovix_udp_flood.cpp)
  set_target_properties(ovix_udp_flood PROPERTIES OUTPUT_NAME ovix-udp-flood
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()
