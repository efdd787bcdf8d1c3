# Read by cpack for each package it makes, when the staging folder's path is
# settled: dpkg-shlibdeps then finds the private mail library inside the
# package being built, where the program's run path points, instead of
# looking for it on the build machine.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    "${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/${CPACK_SYSTEM_NAME}/DEB/${CPACK_PACKAGE_FILE_NAME}${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_QUORVALE_PRIVATE_LIBDIR}")
endif()
