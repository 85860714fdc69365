# The request fuzz target loads the serving tests' Probe device as its small registry.
add_library(fuzz_device MODULE ${PROJECT_SOURCE_DIR}/tests/serving/probe_device.cpp)
target_include_directories(fuzz_device PRIVATE ${PROJECT_SOURCE_DIR}/src)
set_target_properties(fuzz_device PROPERTIES
  PREFIX "" SUFFIX ".ldp" OUTPUT_NAME FuzzDevice
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz CXX_VISIBILITY_PRESET hidden)
if(TARGET request_fuzz)
  add_dependencies(request_fuzz fuzz_device)
  target_compile_definitions(request_fuzz PRIVATE FUZZ_DEVICE_DIR="${CMAKE_BINARY_DIR}/fuzz")
endif()
