orvex_add_fuzzer(fuzz_table_text
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TableTextFuzzer.cpp
  LIBS orvex_files)
