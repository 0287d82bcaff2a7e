# Serial driver, packet assembler and decoder fed over a pseudo-terminal.
if(TARGET orvex_link AND TARGET orvex_meter_sim_core)
  add_executable(serial_link_bench ${CMAKE_CURRENT_LIST_DIR}/serial_link_bench.cpp)
  target_link_libraries(serial_link_bench PRIVATE orvex_link orvex_meter_sim_core orvex_protocol
                        benchmark::benchmark)
endif()
