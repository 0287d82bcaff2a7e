include(GoogleTest)

# orvex_add_test(<name> SOURCES <files...> LIBS <targets...>)
# Builds a GoogleTest program with the shared Qt-aware main and registers each
# of its cases with CTest. Widget tests run on the offscreen platform.
function(orvex_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE orvex_testmain ${T_LIBS})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ORVEX_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
               TIMEOUT 300)
endfunction()
