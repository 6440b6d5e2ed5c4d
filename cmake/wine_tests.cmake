# Tests are Windows programs; CTest runs each one under Wine in a throwaway copy
# of a booted 64-bit prefix (scripts/wine-run).

set(WINE_RUNNER ${CMAKE_SOURCE_DIR}/scripts/wine-run)
set(WINE_TEMPLATE ${CMAKE_BINARY_DIR}/wine-template CACHE PATH "Booted prefix that every test copies")

# add_wine_test(NAME SOURCES a.cpp ... [LIBRARIES l ...] [TIMEOUT seconds] [NO_GTEST_MAIN]
#               [WITHOUT_Z_DRIVE])
# Builds NAME.exe with GoogleTest and registers it with CTest. WITHOUT_Z_DRIVE
# runs it from C:\work in a prefix without drive Z: (the Linux root), for
# tests that hand relative or protected paths to the removal functions.
function(add_wine_test name)
  cmake_parse_arguments(T "NO_GTEST_MAIN;WITHOUT_Z_DRIVE" "TIMEOUT" "SOURCES;LIBRARIES;DEPENDS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_INCLUDE_DIR})
  if(T_NO_GTEST_MAIN)
    target_link_libraries(${name} PRIVATE ${T_LIBRARIES} GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBRARIES} GTest::gtest_main GTest::gmock)
  endif()
  if(T_DEPENDS)
    add_dependencies(${name} ${T_DEPENDS})
  endif()
  math(EXPR ctest_timeout "${T_TIMEOUT} + 120")
  set(runner_options --template ${WINE_TEMPLATE} --timeout ${T_TIMEOUT})
  if(T_WITHOUT_Z_DRIVE)
    list(APPEND runner_options --without-z-drive)
  endif()
  add_test(NAME ${name} COMMAND ${WINE_RUNNER} ${runner_options} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ctest_timeout})
endfunction()
