orvex_add_fuzzer(fuzz_table_xml
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TableXmlFuzzer.cpp
  LIBS orvex_files)
