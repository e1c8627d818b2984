# Shared build rules: warnings, sanitizers and the helpers every folder uses
# to declare tests, fuzz targets and benchmarks.

add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
if(CORVANE_WERROR)
  add_compile_options(-Werror)
endif()
if(CORVANE_SANITIZE)
  add_compile_options(-fsanitize=${CORVANE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${CORVANE_SANITIZE})
endif()
if(CORVANE_LIBFUZZER)
  # Every library the targets reach is instrumented, so that libFuzzer's
  # coverage guidance sees into the parsers and not only into the targets.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
find_package(Threads REQUIRED)

# corvane_add_gtest(NAME <target> SOURCES ... LIBS ... [LABEL label] [TIMEOUT s] [QT_MAIN])
# Labels in use: gui (needs the Qt application), system (needs root and
# system services such as a print server; full build only), port (also run under
# ThreadSanitizer), line (fax sessions over the virtual modem line).
# One executable; every test case becomes its own ctest entry so that slow
# cases (fax sessions in real time) run in parallel under ctest -j.
function(corvane_add_gtest)
  cmake_parse_arguments(T "QT_MAIN" "NAME;TIMEOUT;LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  if(T_QT_MAIN)
    set(main_lib corvane_qt_test_main)  # a QApplication for the whole run
  else()
    set(main_lib GTest::gtest_main)
  endif()
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock ${main_lib} Threads::Threads)
  target_compile_definitions(${T_NAME} PRIVATE CORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT}
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# corvane_add_fuzzer(NAME <target> SOURCE <file> LIBS ... [CORPUS dir])
# The seed corpus is fuzz/corpus/<target>/ unless CORPUS names another. With
# CORVANE_LIBFUZZER the target is a libFuzzer binary in fuzz/bin/ of the
# build (scripts/fuzz runs them all). Otherwise it links a small driver that
# replays the seed corpus and a bounded number of deterministic mutations of
# it, and runs as an ordinary test (label fuzz).
function(corvane_add_fuzzer)
  cmake_parse_arguments(F "" "NAME;SOURCE;CORPUS" "LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCE})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  if(NOT F_CORPUS)
    set(F_CORPUS ${PROJECT_SOURCE_DIR}/fuzz/corpus/${F_NAME})
  endif()
  if(CORVANE_LIBFUZZER)
    target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzz/bin)
    add_dependencies(corvane_fuzzers ${F_NAME})
  else()
    target_link_libraries(${F_NAME} PRIVATE corvane_fuzz_driver)
    set(corpus "")
    if(EXISTS ${F_CORPUS})
      set(corpus "${F_CORPUS}")
    endif()
    add_test(NAME ${F_NAME} COMMAND ${F_NAME} ${corpus})
    set_tests_properties(${F_NAME} PROPERTIES LABELS "fuzz" TIMEOUT 300)
  endif()
endfunction()

# corvane_add_benchmark(NAME <target> SOURCES ... LIBS ...)
function(corvane_add_benchmark)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark benchmark::benchmark_main Threads::Threads)
  target_compile_definitions(${B_NAME} PRIVATE CORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endfunction()
