# The controller simulator's tests: its logic driven with made-up time stamps, and the real
# program talked to through a pseudo-terminal.
if(TARGET velkor-simulator)
  add_executable(velkor_simulator_tests
    ${CMAKE_CURRENT_LIST_DIR}/SimulatorCommandSplitterTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SimulatorControllerModelTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SimulatorOptionsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SimulatorReplySchedulerTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SimulatorTest.cpp
  )
  target_link_libraries(velkor_simulator_tests PRIVATE velkor_simulator_core GTest::gtest_main)
  target_compile_definitions(velkor_simulator_tests PRIVATE
    VELKOR_SIMULATOR="$<TARGET_FILE:velkor-simulator>")
  set_target_properties(velkor_simulator_tests PROPERTIES AUTOMOC OFF AUTORCC OFF AUTOUIC OFF)
  add_dependencies(velkor_simulator_tests velkor-simulator)
  gtest_discover_tests(velkor_simulator_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)
endif()
