# The controller simulator's tests: its logic driven with made-up time stamps (unit), and the
# real program talked to through a pseudo-terminal (integration).
add_executable(velkor_simulator_core_tests
  ${CMAKE_CURRENT_LIST_DIR}/SimulatorCommandSplitterTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimulatorControllerModelTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimulatorOptionsTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimulatorReplySchedulerTest.cpp
)
add_executable(velkor_simulator_tests ${CMAKE_CURRENT_LIST_DIR}/SimulatorTest.cpp)
target_compile_definitions(velkor_simulator_tests PRIVATE
  VELKOR_SIMULATOR="$<TARGET_FILE:velkor-simulator>")
add_dependencies(velkor_simulator_tests velkor-simulator)
foreach(program IN ITEMS velkor_simulator_core_tests velkor_simulator_tests)
  target_link_libraries(${program} PRIVATE velkor_simulator_core GTest::gtest_main)
  set_target_properties(${program} PROPERTIES AUTOMOC OFF AUTORCC OFF AUTOUIC OFF)
endforeach()
add_test(NAME velkor_simulator_core_tests COMMAND velkor_simulator_core_tests)
set_tests_properties(velkor_simulator_core_tests PROPERTIES TIMEOUT 60 LABELS unit)
gtest_discover_tests(velkor_simulator_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 60 LABELS integration)
