# `cmake --install` lays the program out like any Linux desktop program, and CPack turns that into
# a .deb whose dependencies are the Debian packages it needs.
include(GNUInstallDirs)

install(TARGETS quiro quiro-service RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The program looks for its resources in share/quiro beside its own prefix.
install(FILES resources/README.md resources/product.example.json DESTINATION ${CMAKE_INSTALL_DATADIR}/quiro)
install(FILES resources/icons/quiro.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/quiro/icons)
install(FILES resources/icons/quiro.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES packaging/io.quiro.Quiro.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/io.quiro.Quiro.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# For those who want the local service always on: systemctl --user enable --now quiro-service.
# The unit names the service by its absolute path, which is known only when installing (--prefix).
install(CODE "
    file(READ \"${CMAKE_SOURCE_DIR}/packaging/quiro-service.service\" unit)
    string(REPLACE \"@QUIRO_SERVICE_PATH@\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quiro-service\" unit \"\${unit}\")
    file(WRITE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/user/quiro-service.service\" \"\${unit}\")
    message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/user/quiro-service.service\")
")

set(CPACK_PACKAGE_NAME quiro)
set(CPACK_PACKAGE_VENDOR Quiro)
set(CPACK_PACKAGE_CONTACT "Quiro <support@quiro.io>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Coaches you through live sales calls")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Libraries are found by dpkg-shlibdeps; what is loaded by name or read as data is listed here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "pocketsphinx-en-us, fonts-material-design-icons-iconfont, fonts-noto-color-emoji, libqt6sql6-sqlite, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio-utils | pipewire-pulse, pavucontrol, gnome-keyring")
include(CPack)
