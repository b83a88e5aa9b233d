# What goes onto the camera: `cmake --install` and Debian packages (`cpack -G DEB` in a
# build folder; the armhf build folder makes the camera's package).

# The firmware lives in /usr.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()
include(GNUInstallDirs)
# Installing and packaging take what is built (`cmake --build` first) rather than building
# every target of the tree, tests and benchmarks included.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

install(TARGETS ptzcam RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The unit names the binary where this installation puts it (`--prefix`, or /usr in the package).
install(CODE "
    set(PTZCAM_BINARY \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/ptzcam\")
    configure_file(\"${CMAKE_SOURCE_DIR}/packaging/ptzcam.service\" \"${CMAKE_BINARY_DIR}/packaging/ptzcam.service\" @ONLY)
")
install(FILES ${CMAKE_BINARY_DIR}/packaging/ptzcam.service DESTINATION lib/systemd/system)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/config.cfg DESTINATION ${CMAKE_INSTALL_DATADIR}/ptzcam)

set(CPACK_PACKAGE_NAME ptzcam)
set(CPACK_PACKAGE_VENDOR ptzcam)
set(CPACK_PACKAGE_CONTACT "ptzcam developers <ptzcam@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "PTZ network camera: control and streaming application")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Streams the camera's HDMI input as an NDI source and drives its pan, tilt and zoom from VISCA over IP, "
    "NDI PTZ metadata and an engineering console. Runs as the systemd service ptzcam; needs the NDI runtime.")
# Staged with DESTDIR, so the install sees the prefix the package will have.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Built against Debian 12's C and C++ runtimes, natively or with its cross compiler.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12)")
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
elseif(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
endif()
set(CPACK_GENERATOR DEB)
include(CPack)
