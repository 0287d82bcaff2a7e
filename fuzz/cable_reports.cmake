orvex_add_fuzzer(fuzz_cable_reports
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/CableReportsFuzzer.cpp
  LIBS orvex_link orvex_protocol)
