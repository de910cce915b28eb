# The port's settings and their storage on the recording driver, and the port on a
# pseudo-terminal through the Linux driver.
velkor_test(velkor_port_tests unit
  seriallink/ComPortSettingsTest.cpp
  seriallink/ComPortStorageTest.cpp
)
velkor_test(velkor_port_pty_tests integration
  seriallink/ComPortPtyTest.cpp
)
foreach(program IN ITEMS velkor_port_tests velkor_port_pty_tests)
  target_link_libraries(${program} PRIVATE velkor_seriallink velkor_seriallink_setup)
endforeach()
