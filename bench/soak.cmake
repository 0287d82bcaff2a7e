# Not a benchmark: the soak test that scripts/soak runs (it prints figures too).
add_executable(orvex_soak ${CMAKE_CURRENT_LIST_DIR}/soak.cpp)
target_link_libraries(orvex_soak PRIVATE orvex_app orvex_meter_sim_core)
add_dependencies(orvex_soak orvex-log)
