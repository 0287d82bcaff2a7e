add_executable(files_bench ${CMAKE_CURRENT_LIST_DIR}/files_bench.cpp)
target_link_libraries(files_bench PRIVATE orvex_files benchmark::benchmark)
