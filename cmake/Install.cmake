# Installation and packaging: `cmake --install build` puts the executable in
# bin/ and the manual page in share/man/man1/; `cpack -G DEB` in the build
# folder turns the same installation into a Debian package.
include(GNUInstallDirs)

# Installing and packaging take what the build made; they do not build the
# whole tree (tests and benchmarks included) again first. Build, then install.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS updater RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/docs/updater.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/docs/manifest.md ${CMAKE_SOURCE_DIR}/docs/manifest.schema.json
              ${CMAKE_SOURCE_DIR}/docs/signing.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME updater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "updater developers")
set(CPACK_PACKAGE_CONTACT "updater developers <updater@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "applies an application update from a ZIP package")
set(CPACK_PACKAGE_DESCRIPTION
    "updater reads manifest.json from an update package (a ZIP archive) and performs one of its action sets: waiting, copying, removing and renaming files, running programs, waiting for an application to quit and unpacking archives.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies (zlib, libbz2, liblzma, ISA-L, libsodium, the C++ runtime) are read off
# the executable by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package ships the program without its debug information.
set(CPACK_STRIP_FILES ON)
include(CPack)
