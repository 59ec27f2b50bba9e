velmora_fuzz(player SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_player.cpp DEPS velmora_vm)
