# The packet framer and its component.
target_sources(velkor_seriallink PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/PacketFramer.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ComDataPacket.cpp)
