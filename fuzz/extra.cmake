# Extra sources of the fuzz targets. Each target keeps its own self-contained block.

# pinvane_frame_fuzz: the Pinvane plug-in's frame scanner (plug-in code, not in the core).
if(TARGET pinvane_frame_fuzz)
  target_sources(pinvane_frame_fuzz PRIVATE
    ${PROJECT_SOURCE_DIR}/plugins/pinvane/frame_scanner.cpp)
  target_include_directories(pinvane_frame_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/plugins/pinvane)
endif()
