# Extra sources of the fuzz targets. Each target keeps its own self-contained block.

# pinvane_frame_fuzz: the Pinvane plug-in's frame scanner (plug-in code, not in the core).
if(TARGET pinvane_frame_fuzz)
  target_sources(pinvane_frame_fuzz PRIVATE
    ${PROJECT_SOURCE_DIR}/plugins/pinvane/frame_scanner.cpp)
  target_include_directories(pinvane_frame_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/plugins/pinvane)
endif()

# request_fuzz: loads the serving tests' Probe device as its small registry.
if(TARGET request_fuzz)
  add_library(fuzz_device MODULE ${PROJECT_SOURCE_DIR}/tests/serving/probe_device.cpp)
  target_link_libraries(fuzz_device PRIVATE orvexa_plugin_api)
  set_target_properties(fuzz_device PROPERTIES
    PREFIX "" SUFFIX ".ldp" OUTPUT_NAME FuzzDevice
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz CXX_VISIBILITY_PRESET hidden)
  add_dependencies(request_fuzz fuzz_device)
  target_compile_definitions(request_fuzz PRIVATE FUZZ_DEVICE_DIR="${CMAKE_BINARY_DIR}/fuzz")
endif()

# client_reply_fuzz: the C++ client library's reply decoders.
if(TARGET client_reply_fuzz)
  target_link_libraries(client_reply_fuzz PRIVATE orvexa_client)
endif()

# archive_history_fuzz: the archiver's reading of a lab server's replies.
if(TARGET archive_history_fuzz)
  target_link_libraries(archive_history_fuzz PRIVATE orvexa_archive)
endif()
