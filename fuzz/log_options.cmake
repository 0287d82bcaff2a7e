orvex_add_fuzzer(fuzz_log_options
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LogOptionsFuzzer.cpp
  LIBS orvex_log_core)
