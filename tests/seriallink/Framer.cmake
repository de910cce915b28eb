# The packet framer: its GoogleTest suite, and its fuzzing target run for a bounded time.
velkor_test(velkor_framer_tests unit seriallink/ComDataPacketTest.cpp)
target_link_libraries(velkor_framer_tests PRIVATE velkor_seriallink)

# libFuzzer comes with clang, while the project builds with g++: the fuzzing target is compiled
# by clang++ directly, from the framer's source (it needs nothing but the standard library) and
# the target's own file. scripts/setup.sh installs clang; a build without it fails here rather
# than leaving the fuzzing test out unnoticed (VELKOR_FUZZ=OFF leaves it out on purpose).
option(VELKOR_FUZZ "Build and run the fuzzing targets (needs clang++ with libFuzzer)" ON)
find_program(VELKOR_CLANGXX NAMES clang++ clang++-16 clang++-15 clang++-14)
set(VELKOR_FUZZ_FLAGS -std=c++20 -g -O1 -Wall -Wextra -fsanitize=fuzzer,address,undefined
    -fno-sanitize-recover=all)
if(VELKOR_CLANGXX AND NOT DEFINED VELKOR_CLANGXX_FUZZES)
  set(probe_dir ${CMAKE_CURRENT_BINARY_DIR}/fuzz-probe)
  file(WRITE ${probe_dir}/probe.cpp
    "#include <cstddef>\n#include <cstdint>\n"
    "extern \"C\" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }\n")
  execute_process(COMMAND ${VELKOR_CLANGXX} ${VELKOR_FUZZ_FLAGS} probe.cpp -o probe
    WORKING_DIRECTORY ${probe_dir} RESULT_VARIABLE probe_result OUTPUT_QUIET ERROR_QUIET)
  if(probe_result EQUAL 0)
    set(VELKOR_CLANGXX_FUZZES ON CACHE INTERNAL "clang++ builds libFuzzer targets")
  else()
    set(VELKOR_CLANGXX_FUZZES OFF CACHE INTERNAL "clang++ builds libFuzzer targets")
  endif()
endif()

if(VELKOR_FUZZ AND VELKOR_CLANGXX AND VELKOR_CLANGXX_FUZZES)
  set(framer_dir ${PROJECT_SOURCE_DIR}/seriallink)
  set(fuzz_source ${PROJECT_SOURCE_DIR}/tests/fuzz/PacketFramerFuzz.cpp)
  set(fuzz_dir ${CMAKE_CURRENT_BINARY_DIR}/fuzz)
  set(fuzzer ${fuzz_dir}/velkor_framer_fuzz)
  file(MAKE_DIRECTORY ${fuzz_dir})
  add_custom_command(OUTPUT ${fuzzer}
    COMMAND ${VELKOR_CLANGXX} ${VELKOR_FUZZ_FLAGS} -I${framer_dir}
            ${framer_dir}/PacketFramer.cpp ${fuzz_source} -o ${fuzzer}
    DEPENDS ${framer_dir}/PacketFramer.cpp ${framer_dir}/PacketFramer.h ${fuzz_source}
    COMMENT "Building the packet framer's fuzzing target with clang++"
    VERBATIM)
  add_custom_target(velkor_framer_fuzz ALL DEPENDS ${fuzzer})

  # The corpus stays in the build folder, so that later runs start from what earlier ones found.
  set(corpus ${fuzz_dir}/framer-corpus)
  file(MAKE_DIRECTORY ${corpus})
  add_test(NAME PacketFramerFuzz
    COMMAND ${fuzzer} -max_total_time=20 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
            ${corpus})
  set_tests_properties(PacketFramerFuzz PROPERTIES TIMEOUT 120 LABELS fuzz)
elseif(VELKOR_FUZZ)
  message(FATAL_ERROR "No clang++ that builds libFuzzer targets: run scripts/setup.sh, or "
    "configure with -DVELKOR_FUZZ=OFF to build without the fuzzing tests")
endif()
