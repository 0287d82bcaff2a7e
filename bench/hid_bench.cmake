# The USB adapter cable's road: reading thread, hand-over, OrvexHidData, decoder.
if(TARGET orvex_link AND TARGET orvex_meter_sim_core)
  add_executable(hid_bench ${CMAKE_CURRENT_LIST_DIR}/hid_bench.cpp)
  target_link_libraries(hid_bench PRIVATE orvex_link orvex_meter_sim_core orvex_protocol
                        benchmark::benchmark)
endif()
