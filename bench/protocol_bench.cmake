add_executable(protocol_bench ${CMAKE_CURRENT_LIST_DIR}/protocol_bench.cpp)
target_link_libraries(protocol_bench PRIVATE orvex_protocol benchmark::benchmark)
