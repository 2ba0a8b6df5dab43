# The Debian package: /usr/bin/wad3, its compressed manual page, the copyright file and
# the changelog, put together by CPack's DEB generator.

set(WAD3_MAINTAINER "the wad3 authors <wad3@example.org>" CACHE STRING "Maintainer field of the package")

# gzip -n leaves out the name and time, so the same page compresses to the same bytes.
foreach(doc ${WAD3_MANUAL} ${PROJECT_SOURCE_DIR}/packaging/changelog)
  get_filename_component(name ${doc} NAME)
  add_custom_command(OUTPUT ${name}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${doc} ${name}
    COMMAND gzip -9nf ${name}
    DEPENDS ${doc}
    VERBATIM)
endforeach()
add_custom_target(deb-docs ALL DEPENDS wad3.1.gz changelog.gz)

# A release's changelog entry comes with its version: the package says what it brings.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog top LIMIT_COUNT 1)
if(NOT top MATCHES "^wad3 \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog begins with \"${top}\"; version ${PROJECT_VERSION} needs its entry")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)

# The machine-readable copyright file carries LICENSE, each line indented, blank ones as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX REPLACE "\n$" "" license "${license}")
string(REGEX REPLACE "\n\n" "\n.\n" license "${license}")
string(REGEX REPLACE "\n" "\n " license " ${license}")
file(WRITE ${PROJECT_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: wad3

Files: *
Copyright: 2026 the wad3 authors
License: Expat
${license}
")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)

install(FILES ${PROJECT_BINARY_DIR}/wad3.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_BINARY_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wad3)
set(CPACK_PACKAGE_VENDOR "the wad3 authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert WAD3 texture packages into PCX images")
set(CPACK_PACKAGE_DESCRIPTION
"wad3 reads one WAD3 texture package and writes every texture in it as an
8-bit, run-length-encoded PCX image with a 256-colour palette, one file per
texture, named after the texture, in the current directory.

It reports progress and every problem as one line on standard output and
exits with 0 or 1. Broken or hostile packages end the run with a message,
never with a file outside the current directory.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${WAD3_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# As Debian's own packages are stripped: the compiler's version notes go too.
add_custom_command(TARGET wad3 POST_BUILD
  COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:wad3> VERBATIM)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
if(WAD3_ARCH)  # another Debian architecture, from the cross toolchain
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${WAD3_ARCH})
  # dpkg-shlibdeps names the packages of the libraries it finds first: without that
  # architecture's own, it would find none, or for i386 the amd64 system's 32-bit copies.
  if(NOT EXISTS /usr/lib/${WAD3_MULTIARCH}/libstdc++.so.6)
    message(FATAL_ERROR "The ${WAD3_ARCH} package's Depends come from the ${WAD3_ARCH} libraries; install them with\n"
                        "  dpkg --add-architecture ${WAD3_ARCH} && apt-get update && apt-get install "
                        "libc6:${WAD3_ARCH} libstdc++6:${WAD3_ARCH} libgcc-s1:${WAD3_ARCH}")
  endif()
endif()
include(CPack)
