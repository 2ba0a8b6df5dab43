# Run by CPack's External generator: the staged folder as a .tar.gz that is the same from any
# checkout. Names sorted, owner and group 0, modes as installed but never group or world
# writable, every time SOURCE_DATE_EPOCH where it is set, and gzip without a name or time.
set(folder ${CPACK_PACKAGE_FILE_NAME})
set(tarball ${CPACK_PACKAGE_DIRECTORY}/${folder}.tar.gz)
set(times)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(times --mtime=@$ENV{SOURCE_DATE_EPOCH})
endif()
execute_process(
  COMMAND tar --sort=name --owner=0 --group=0 --numeric-owner --mode=go-w --format=gnu ${times}
          -cf - -C ${CPACK_TOPLEVEL_DIRECTORY} ${folder}
  COMMAND gzip -9n
  OUTPUT_FILE ${tarball}
  COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_EXTERNAL_BUILT_PACKAGES ${tarball})
