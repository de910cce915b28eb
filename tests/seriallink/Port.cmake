velkor_test(velkor_port_tests integration
  seriallink/ComPortSettingsTest.cpp
  seriallink/ComPortPtyTest.cpp
  seriallink/ComPortStorageTest.cpp
)
target_link_libraries(velkor_port_tests PRIVATE velkor_seriallink velkor_seriallink_setup)
