# Fuzzing targets (libFuzzer), each run for a bounded time as a test of the suite. They are built
# where the compiler is clang, which scripts/check.sh uses for the sanitized suite: there every
# library is compiled with the fuzzer's coverage (-fsanitize=fuzzer-no-link) beside AddressSanitizer
# and UndefinedBehaviorSanitizer. The g++ build has no libFuzzer, so it has no fuzzing tests.
option(VELKOR_FUZZ "Build and run the fuzzing targets when the compiler is clang" ON)
if(VELKOR_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(VELKOR_FUZZ_SECONDS 20 CACHE STRING "How long each fuzzing test runs")
  function(velkor_fuzz name source)
    add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${source})
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_LIST_DIR})
    target_link_libraries(${name} PRIVATE ${ARGN})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    # The corpus stays in the build folder, so that later runs start from what earlier ones found.
    set(corpus ${CMAKE_CURRENT_BINARY_DIR}/fuzz/${name}-corpus)
    file(MAKE_DIRECTORY ${corpus})
    add_test(NAME ${name}
      COMMAND ${name} -max_total_time=${VELKOR_FUZZ_SECONDS} -timeout=10 -rss_limit_mb=2048
              -print_final_stats=1 -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/fuzz/${name}-
              ${corpus})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS fuzz)
  endfunction()

  velkor_fuzz(velkor_framer_fuzz PacketFramerFuzz.cpp velkor_seriallink)
  velkor_fuzz(velkor_numbers_fuzz NumbersFuzz.cpp velkor_common)
  velkor_fuzz(velkor_inifile_fuzz IniFileFuzz.cpp velkor_common)
  velkor_fuzz(velkor_jobrecords_fuzz JobRecordsFuzz.cpp velkor_jobdata)
  velkor_fuzz(velkor_replyhandler_fuzz ReplyHandlerFuzz.cpp velkor_core)
endif()
