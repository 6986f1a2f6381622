# GoogleTest and Google Benchmark: the system's packages (Debian's libgtest-dev, libgmock-dev and
# libbenchmark-dev), or built along with nimbus from the source folders named by
# NIMBUS_GTEST_SOURCE and NIMBUS_BENCHMARK_SOURCE. The Windows build does the latter, from
# Debian's own sources: the googletest package (/usr/src/googletest) and Google Benchmark's
# source package (unpacked into build/deps by scripts/setup).

# Provides GTest::gtest, GTest::gmock and GTest::gtest_main (fails when there is none).
macro(nimbus_find_gtest)
  if(NIMBUS_GTEST_SOURCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(${NIMBUS_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/deps/googletest EXCLUDE_FROM_ALL)
  else()
    find_package(GTest REQUIRED)
  endif()
endmacro()

# Provides benchmark::benchmark_main when Google Benchmark is there; without it, says why.
macro(nimbus_find_benchmark)
  if(NIMBUS_BENCHMARK_SOURCE AND EXISTS ${NIMBUS_BENCHMARK_SOURCE}/CMakeLists.txt)
    set(BENCHMARK_ENABLE_TESTING OFF CACHE BOOL "" FORCE)
    set(BENCHMARK_ENABLE_GTEST_TESTS OFF CACHE BOOL "" FORCE)
    set(BENCHMARK_ENABLE_INSTALL OFF CACHE BOOL "" FORCE)
    set(BENCHMARK_ENABLE_WERROR OFF CACHE BOOL "" FORCE)
    set(GIT_VERSION 0.0.0)  # Debian's sources do not ask git: take the version of project()
    add_subdirectory(${NIMBUS_BENCHMARK_SOURCE} ${CMAKE_BINARY_DIR}/deps/benchmark EXCLUDE_FROM_ALL)
  elseif(NIMBUS_BENCHMARK_SOURCE)
    message(WARNING "No Google Benchmark sources in ${NIMBUS_BENCHMARK_SOURCE} (scripts/setup "
                    "fetches them): nimbus-bench is left out of this build.")
  else()
    find_package(benchmark REQUIRED)
  endif()
endmacro()
