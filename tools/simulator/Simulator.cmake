# velkor-simulator: the machine's controller at the other end of the console's serial line, for
# the demo, the tests and service work without a machine. Plain C++ and POSIX: of the console it
# links only the programs' command-line reader. The logic that needs no line or clock is in velkor_simulator_core for the tests.
add_library(velkor_simulator_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/CommandSplitter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ControllerModel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LineText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReplyScheduler.cpp
)
target_include_directories(velkor_simulator_core PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(velkor_simulator_core PUBLIC velkor_command_line)
set_target_properties(velkor_simulator_core PROPERTIES AUTOMOC OFF AUTORCC OFF AUTOUIC OFF)

add_executable(velkor-simulator
  ${CMAKE_CURRENT_LIST_DIR}/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LineLink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MonotonicClock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SettingsFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Simulator.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimulatorLine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimulatorLog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SystemError.cpp
)
target_link_libraries(velkor-simulator PRIVATE velkor_simulator_core)
# Only the version header of the console's common folder.
target_include_directories(velkor-simulator PRIVATE ${PROJECT_BINARY_DIR}/common/generated)
set_target_properties(velkor-simulator PROPERTIES AUTOMOC OFF AUTORCC OFF AUTOUIC OFF)
