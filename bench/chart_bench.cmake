add_executable(chart_bench ${CMAKE_CURRENT_LIST_DIR}/chart_bench.cpp)
target_link_libraries(chart_bench PRIVATE orvex_chart benchmark::benchmark)
