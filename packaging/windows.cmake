# The Windows zip: wad3.exe, a README for Windows users, LICENSE and the manual page as text,
# every text with CR LF line ends, in one folder wad3-VERSION-windows-x86_64/, put together by
# CPack's ZIP generator with every time set to SOURCE_DATE_EPOCH.

target_link_options(wad3 PRIVATE -s)  # as shipped: no symbols, and the tests run this same file
install(TARGETS wad3 RUNTIME DESTINATION .)

find_program(WAD3_GROFF groff REQUIRED)  # Debian's groff-base renders the manual page
set(script ${PROJECT_SOURCE_DIR}/packaging/windows-text.cmake)
foreach(pair "${WAD3_MANUAL}=wad3.txt" "${PROJECT_SOURCE_DIR}/packaging/README-windows.txt=README.txt"
             "${PROJECT_SOURCE_DIR}/LICENSE=LICENSE.txt")
  string(REPLACE "=" ";" pair ${pair})
  list(GET pair 0 from)
  list(GET pair 1 to)
  add_custom_command(OUTPUT ${to}
    COMMAND ${CMAKE_COMMAND} -DFROM=${from} -DTO=${to} -DGROFF=${WAD3_GROFF} -P ${script}
    DEPENDS ${from} ${script}
    VERBATIM)
endforeach()
add_custom_target(windows-docs ALL DEPENDS wad3.txt README.txt LICENSE.txt)
install(FILES ${PROJECT_BINARY_DIR}/README.txt ${PROJECT_BINARY_DIR}/LICENSE.txt
              ${PROJECT_BINARY_DIR}/wad3.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME wad3)
set(CPACK_PACKAGE_VENDOR "the wad3 authors")
set(CPACK_PACKAGE_FILE_NAME wad3-${PROJECT_VERSION}-windows-x86_64)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
