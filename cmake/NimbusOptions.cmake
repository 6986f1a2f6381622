# Compile options shared by every target of ours: strict warnings, exact floats.
add_library(nimbus_options INTERFACE)
if(MSVC)
  # Not built here; the same rules in Visual C++'s words.
  target_compile_options(nimbus_options INTERFACE /W4 /WX /fp:precise)
else()
  target_compile_options(nimbus_options INTERFACE
    -Wall -Wextra -Werror
    # The game's arithmetic is bit-exact: no fused multiply-adds, no fast-math. (x86-64 does its
    # float arithmetic in SSE2 on Linux and Windows alike.)
    -ffp-contract=off -fno-fast-math)
endif()
target_include_directories(nimbus_options INTERFACE ${PROJECT_SOURCE_DIR})

if(MINGW)
  # Windows programs carry their runtime (libstdc++, libgcc, winpthread): nimbus-bot.exe runs on a
  # bare Windows machine with no DLL beside it.
  target_link_options(nimbus_options INTERFACE -static)
endif()

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
