# SPDX-License-Identifier: Apache-2.0
# The Windows build, cross-compiled on Linux (scripts/build-windows.sh with
# cmake/mingw-w64-x86_64.cmake): the engine over the system's own libraries
# (CryptoAPI for keys and hashes, our RC2 for the cipher), files with the
# system's locks (io/), the operations (ops/), the registry's context-menu
# entries and the gathering of files (shell/), kestrawin-cli.exe (cli/), the
# native window kestrawin.exe (pages/, workers/, winui/, app/), and their
# tests, which run under Wine. Included by the
# top-level CMakeLists.txt.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0A00)

add_subdirectory(base)
add_subdirectory(crypto)
add_subdirectory(format)
add_subdirectory(io)
add_subdirectory(ops)
add_subdirectory(startup)
add_subdirectory(shell)
add_subdirectory(cli)
# The window: its pages without a toolkit, the work on a thread, the native
# view over them (winui/), and kestrawin.exe.
add_subdirectory(pages)
add_subdirectory(workers)
add_subdirectory(winui)
add_subdirectory(app)

if(KESTRAWIN_TESTS)
  set(KESTRAWIN_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
  add_subdirectory(cmake/googletest ${CMAKE_BINARY_DIR}/googletest)
  # Every test program runs under Wine, in a prefix of the build's own.
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/scripts/wine-run.sh")
  add_subdirectory(tests/windows)
endif()
