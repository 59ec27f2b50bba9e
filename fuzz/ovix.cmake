velmora_fuzz(ovix_frames SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_ovix_frames.cpp DEPS velmora_ovix)
