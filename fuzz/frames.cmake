orvex_add_fuzzer(fuzz_frames
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/FramesFuzzer.cpp
  LIBS orvex_protocol orvex_recording orvex_log_core)
