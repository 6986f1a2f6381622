# Compile options shared by every target of ours: strict warnings, exact floats.
add_library(nimbus_options INTERFACE)
target_compile_options(nimbus_options INTERFACE
  -Wall -Wextra -Werror
  # The game's arithmetic is bit-exact: no fused multiply-adds, no fast-math.
  -ffp-contract=off -fno-fast-math)
target_include_directories(nimbus_options INTERFACE ${PROJECT_SOURCE_DIR})

if(NIMBUS_SANITIZE)
  set(_nimbus_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_compile_options(nimbus_options INTERFACE ${_nimbus_san})
  target_link_options(nimbus_options INTERFACE ${_nimbus_san})
endif()

if(NIMBUS_FUZZ)
  # Coverage for libFuzzer in every library; the fuzz targets link the fuzzer's main.
  set(_nimbus_fuzz -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_compile_options(nimbus_options INTERFACE -fsanitize=fuzzer-no-link ${_nimbus_fuzz})
  target_link_options(nimbus_options INTERFACE ${_nimbus_fuzz})
endif()

# nimbus_library(name SOURCES...): a static library of ours with the shared options.
function(nimbus_library name)
  add_library(${name} STATIC ${ARGN})
  target_link_libraries(${name} PUBLIC nimbus_options)
endfunction()
