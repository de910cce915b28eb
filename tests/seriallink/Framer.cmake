# The packet framer's GoogleTest suite (its fuzzing target is with the others in fuzz/).
velkor_test(velkor_framer_tests unit seriallink/ComDataPacketTest.cpp)
target_link_libraries(velkor_framer_tests PRIVATE velkor_seriallink)
