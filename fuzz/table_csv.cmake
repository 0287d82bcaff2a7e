orvex_add_fuzzer(fuzz_table_csv
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TableCsvFuzzer.cpp
  LIBS orvex_files)
