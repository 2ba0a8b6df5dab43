# One program for any Linux of its architecture, and its tarball: the program linked
# statically, so that it needs no library and no loader, position-independent where the C
# library has the start-up file for that (rcrt1.o). The tarball holds one folder
# wad3-VERSION-linux-MACHINE/, MACHINE being what uname -m prints on such a machine, with the
# program, a README for Linux users, the manual page and the licence. CPack stages them;
# packaging/tarball.cmake makes the tarball, reproducibly.

include(CheckLinkerFlag)
check_linker_flag(CXX -static-pie WAD3_STATIC_PIE)
# Among the libraries, so that it comes last on the line and overrides CMake's own -pie.
if(WAD3_STATIC_PIE)
  target_link_libraries(wad3 PRIVATE -static-pie)
else()
  target_link_libraries(wad3 PRIVATE -static)
endif()
target_link_options(wad3 PRIVATE -s)  # as shipped: no symbols, and the tests run this same file

if(NOT WAD3_MACHINE AND WAD3_UNAME_MACHINE)  # from the toolchain's table
  set(WAD3_MACHINE ${WAD3_UNAME_MACHINE})
elseif(NOT WAD3_MACHINE)
  set(WAD3_MACHINE ${CMAKE_SYSTEM_PROCESSOR})
endif()
install(TARGETS wad3 RUNTIME DESTINATION .)
install(FILES packaging/README-linux.txt DESTINATION . RENAME README)
install(FILES LICENSE ${WAD3_MANUAL} DESTINATION .)

set(CPACK_GENERATOR External)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/packaging/tarball.cmake)
set(CPACK_PACKAGE_NAME wad3)
set(CPACK_PACKAGE_VENDOR "the wad3 authors")
set(CPACK_PACKAGE_FILE_NAME wad3-${PROJECT_VERSION}-linux-${WAD3_MACHINE})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
