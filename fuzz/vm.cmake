velmora_fuzz(vmx SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_vmx.cpp DEPS velmora_vm)
