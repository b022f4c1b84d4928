# Cross-compiles for 32-bit Windows in the Microsoft C++ ABI with clang.
set(MSVC_TRIPLE i686-pc-windows-msvc)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/clang-msvc.cmake)
