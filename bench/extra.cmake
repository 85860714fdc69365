# The history benchmark starts the real server in a temporary folder through the test
# support library.
if(TARGET history_bench AND TARGET orvexa_test_support)
  target_link_libraries(history_bench PRIVATE orvexa_test_support)
endif()
