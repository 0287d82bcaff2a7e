add_executable(window_bench ${CMAKE_CURRENT_LIST_DIR}/window_bench.cpp)
target_link_libraries(window_bench PRIVATE orvex_app)
target_compile_definitions(window_bench PRIVATE
  ORVEX_INTERFACE_PATH="$<TARGET_FILE:orvex-interface>"
  ORVEX_MINIMAL_WINDOW_PATH="$<TARGET_FILE:orvex-minimal-window>")
add_dependencies(window_bench orvex-interface orvex-minimal-window)
