add_executable(bench_protocol ${CMAKE_CURRENT_SOURCE_DIR}/protocol_bench.cpp)
target_link_libraries(bench_protocol PRIVATE velmora_protocol benchmark::benchmark)
set_target_properties(bench_protocol PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
