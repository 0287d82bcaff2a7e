# Record table and recording pipeline figures.
if(TARGET orvex_recording AND TARGET orvex_protocol)
  add_executable(recording_bench ${CMAKE_CURRENT_LIST_DIR}/recording_bench.cpp)
  target_link_libraries(recording_bench PRIVATE orvex_recording orvex_protocol
                        Qt6::Widgets benchmark::benchmark)
endif()
