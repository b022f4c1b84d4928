# Cross-compiles for 64-bit Windows in the Microsoft C++ ABI with clang.
set(MSVC_TRIPLE x86_64-pc-windows-msvc)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/clang-msvc.cmake)
