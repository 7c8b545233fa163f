# Builds for Windows: Unicode Windows headers (the wide-character calls are
# the ones the program makes; its texts are UTF-8 inside), Windows 7 and
# later (QueryFullProcessImageNameW, GetExtendedTcpTable with owner pids), and
# no min/max macros to break the standard library's.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
if(MINGW)
  # Stack protection, and the C runtime's formatted output in the C99 form
  # (%zu, %lld) on the old msvcrt that mingw-w64 links by default.
  add_compile_options(-fstack-protector-strong)
  add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
  add_link_options(-fstack-protector-strong)
endif()
if(CMAKE_CROSSCOMPILING)
  # Test programs are listed when ctest runs (under the emulator), not when
  # they are linked: the 32-bit tree, which only compiles, never runs them.
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()
