# Throughput of the packet framer.
add_executable(velkor_framer_bench ${CMAKE_CURRENT_LIST_DIR}/FramerBench.cpp)
target_link_libraries(velkor_framer_bench PRIVATE velkor_seriallink benchmark::benchmark)
