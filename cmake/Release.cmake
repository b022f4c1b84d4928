# What a release archive holds (VEKLINK_RELEASE; the presets named after the
# archives, which scripts/release builds): the Release build, with debug
# information beside the library rather than in it, stripped binaries, the
# same bytes from whatever directory the sources sit in, and the archive's own
# documents at the top of the install tree.
#
# Debug information: the Microsoft-ABI DLL gets a PDB (bin/VekLink.pdb). The
# mingw DLL's goes into bin/VekLink.dll.debug, which the stripped DLL names in
# its debug link (.gnu_debuglink: gdb finds the file beside the DLL). The rest
# ships stripped (by the linker). Debug information does not change the code,
# so the DLLs are the ones the Release presets build and test.
#
# Options for reproducible bytes, each against what would otherwise differ
# between two checkouts or two runs:
# - -ffile-prefix-map=SOURCE_DIR=VekLink-VERSION (every compile): debug
#   information and __FILE__ name the source archive's top folder instead of
#   the checkout's path (the build directory lies inside the checkout).
# Microsoft ABI (clang-16, lld-link-16):
# - -gno-codeview-command-line: CodeView would record each compile's command
#   line, absolute paths and all.
# - the source named relative to the build directory (compile-relative-source
#   as the compiler launcher): clang 16 names the types of anonymous
#   namespaces after a hash of the source path as given, which CMake gives
#   absolute.
# - /pdb:bin/VekLink.pdb, relative, in place of CMake's absolute /pdb: path,
#   which lld-link records in the PDB.
# - /pdbsourcepath:C:/: lld-link makes the relative paths in the PDB absolute
#   against it instead of the build directory (sources then read
#   C:\VekLink-VERSION\src\..., where the source archive unpacks at C:\).
# - /pdbaltpath:%_PDB%: the DLL's CodeView record names VekLink.pdb alone.
# - /Brepro: lld-link ignores SOURCE_DATE_EPOCH; with /Brepro the PE
#   timestamp and the PDB's signature are hashes of the content, not times.
# GNU ABI (mingw-w64):
# - -Wl,--no-insert-timestamp: GNU ld would write the link's time (or
#   SOURCE_DATE_EPOCH, when the build's environment has it; scripts/release
#   gives it to the configure step only) into the PE header; veklink.exe's
#   timestamp is 0.
# - SOURCE_DATE_EPOCH (scripts/release takes it from the last commit's time)
#   for objcopy, which writes it, or else the current time, into the stripped
#   DLL's PE header and its debug file's.
# Linux:
# - CMAKE_BUILD_WITH_INSTALL_RPATH: the tool is linked with its installed run
#   path, $ORIGIN/../lib; rewriting the build directory's path at install time
#   would leave that path's length behind.
set(VEKLINK_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}" CACHE STRING
    "Time written into the release's PE headers (seconds since 1970; scripts/release sets it)")
if(NOT VEKLINK_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "VEKLINK_RELEASE needs SOURCE_DATE_EPOCH; scripts/release sets it")
endif()
set(source_folder VekLink-${PROJECT_VERSION})
set(tool_targets)
if(TARGET veklink)
  set(tool_targets veklink)
endif()
foreach(target veklink_objects ${tool_targets})
  target_compile_options(${target} PRIVATE -ffile-prefix-map=${PROJECT_SOURCE_DIR}=${source_folder})
endforeach()
set(dated ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${VEKLINK_SOURCE_DATE_EPOCH})

if(VEKLINK_MSVC_ABI)
  target_compile_options(veklink_objects PRIVATE -g -gcodeview -gno-codeview-command-line)
  set_target_properties(veklink_objects PROPERTIES
      CXX_COMPILER_LAUNCHER ${CMAKE_CURRENT_LIST_DIR}/compile-relative-source)
  string(REPLACE "/pdb:<TARGET_PDB>" "/pdb:<TARGET_BASE>.pdb" CMAKE_CXX_CREATE_SHARED_LIBRARY
         "${CMAKE_CXX_CREATE_SHARED_LIBRARY}")
  target_link_options(VekLink PRIVATE LINKER:/debug LINKER:/pdbaltpath:%_PDB%
                      LINKER:/pdbsourcepath:C:/ LINKER:/Brepro)
  install(FILES $<TARGET_FILE_DIR:VekLink>/VekLink.pdb DESTINATION ${CMAKE_INSTALL_BINDIR})
elseif(WIN32)
  target_compile_options(veklink_objects PRIVATE -g)
  foreach(target VekLink ${tool_targets})  # GNU ld
    target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
  endforeach()
  add_custom_command(TARGET VekLink POST_BUILD
      COMMAND ${dated} ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:VekLink>
              $<TARGET_FILE_NAME:VekLink>.debug
      COMMAND ${dated} ${CMAKE_OBJCOPY} --strip-all
              --add-gnu-debuglink=$<TARGET_FILE_NAME:VekLink>.debug $<TARGET_FILE_NAME:VekLink>
      WORKING_DIRECTORY $<TARGET_FILE_DIR:VekLink> VERBATIM)
  install(FILES $<TARGET_FILE:VekLink>.debug DESTINATION ${CMAKE_INSTALL_BINDIR})
else()
  set_target_properties(${tool_targets} PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
  target_link_options(VekLink PRIVATE -s)
endif()
# The tool is stripped by the linker.
foreach(target ${tool_targets})
  target_link_options(${target} PRIVATE -s)
endforeach()

# README.txt, LICENSE.txt and CHANGELOG.md at the top of the archive.
configure_file(${CMAKE_CURRENT_LIST_DIR}/README.txt.in README.txt @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt CHANGELOG.md DESTINATION .)
install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
# The guide, one page per task: share/doc/VekLink in the Linux archive, doc
# in the zips.
if(WIN32)
  install(DIRECTORY docs/ DESTINATION doc)
else()
  install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/VekLink)
endif()
