velmora_fuzz(datagram SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_datagram.cpp DEPS velmora_protocol)
