add_executable(journal_bench ${CMAKE_CURRENT_LIST_DIR}/journal_bench.cpp)
target_link_libraries(journal_bench PRIVATE orvex_files)
