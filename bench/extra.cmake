# The history benchmark starts the real server in a temporary folder through the test
# support library.
if(TARGET history_bench AND TARGET orvexa_test_support)
  target_link_libraries(history_bench PRIVATE orvexa_test_support)
endif()

# The soak (build/bench/soak): the real server under many clients and injected faults.
if(TARGET orvexa_test_support AND TARGET orvexa_client)
  file(GLOB soak_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/soak/*.cpp)
  add_executable(soak ${soak_sources})
  target_link_libraries(soak PRIVATE orvexa_core orvexa_client orvexa_test_support)
  set_target_properties(soak PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()

# The interference benchmark (build/bench/interference): the real server's sampler, a
# well-behaved client and admissions, alone and under hostile clients.
if(TARGET orvexa_test_support AND TARGET orvexa_client)
  file(GLOB interference_sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/interference/*.cpp)
  add_executable(interference ${interference_sources}
                 ${CMAKE_CURRENT_SOURCE_DIR}/soak/process_probe.cpp)
  target_link_libraries(interference PRIVATE orvexa_core orvexa_client orvexa_test_support)
  set_target_properties(interference PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()

# The admission benchmark with tokens starts the real server through the test support
# library and mints its tokens with build/orvexa-token.
if(TARGET auth_bench AND TARGET orvexa_test_support)
  target_link_libraries(auth_bench PRIVATE orvexa_test_support)
  add_dependencies(auth_bench orvexa orvexa-token)
endif()

# The archive benchmark (build/bench/archive_bench): a private PostgreSQL cluster, the
# archive's transactions against plain COPY, a backfill from the real server, the lag
# at 1000 channels against a stand-in lab server; libpq itself for binary results,
# which libpqxx 6.4 cannot ask for.
if(TARGET archive_bench)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(PQ REQUIRED IMPORTED_TARGET libpq)
  target_sources(archive_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/archive/postgres_cluster.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/archive/lab_stand_in.cpp)
  target_include_directories(archive_bench PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(archive_bench PRIVATE ORVEXA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  target_link_libraries(archive_bench PRIVATE orvexa_archive orvexa_test_support PkgConfig::PQ)
endif()
