add_executable(report_bench ${CMAKE_CURRENT_LIST_DIR}/report_bench.cpp)
target_link_libraries(report_bench PRIVATE orvex_app orvex_report Qt6::PrintSupport)
