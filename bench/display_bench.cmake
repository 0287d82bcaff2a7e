add_executable(display_bench ${CMAKE_CURRENT_LIST_DIR}/display_bench.cpp)
target_link_libraries(display_bench PRIVATE orvex_display benchmark::benchmark)
