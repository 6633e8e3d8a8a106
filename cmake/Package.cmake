# The Debian package `strimo`, made with CPack from this build tree (scripts/package.sh):
#   /usr/lib/strimo/     the pristine installation: programs, res/, default/, version.xml,
#                        UpdataInfo.txt; the launchers copy it into each member's own folder
#   /usr/bin/strimo, /usr/bin/strimo-update    the launchers (dist/package/strimo.sh)
#   the desktop entry, the icon in the hicolor theme, the AppStream metainfo.
# Everything is taken from what the build makes, never from build/installation as it stands: the
# updater and the programs rewrite files there.

# `cpack` would otherwise build every target (tests included) before it installs.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(_lib lib/strimo)
install(TARGETS strimo StrimoUpdata strimo-crypt RUNTIME DESTINATION ${_lib})
install(FILES "${STRIMO_INSTALL_DIR}/default/config.xml" "${STRIMO_INSTALL_DIR}/default/usr.xml"
        DESTINATION ${_lib}/default)
install(FILES "${STRIMO_PRISTINE_VERSION}" "${CMAKE_SOURCE_DIR}/dist/UpdataInfo.txt" DESTINATION ${_lib})
# The skin and the icons are drawn straight into the package by the generator.
install(CODE "
  set(_root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  foreach(_job \"res;${_lib}/res\" \"icons;share/icons/hicolor\")
    list(GET _job 0 _what)
    list(GET _job 1 _where)
    execute_process(COMMAND \"$<TARGET_FILE:skin-gen>\" \${_what} \"\${_root}/\${_where}\"
                    RESULT_VARIABLE _rc OUTPUT_QUIET)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR \"skin-gen \${_what} failed (\${_rc})\")
    endif()
  endforeach()
  file(MAKE_DIRECTORY \"\${_root}/bin\")
  file(CREATE_LINK strimo \"\${_root}/bin/strimo-update\" SYMBOLIC)
")
install(PROGRAMS "${CMAKE_SOURCE_DIR}/dist/package/strimo.sh" DESTINATION bin RENAME strimo)
install(FILES "${CMAKE_SOURCE_DIR}/dist/package/cn.strimo.strimo.desktop" DESTINATION share/applications)
configure_file("${CMAKE_SOURCE_DIR}/dist/package/cn.strimo.strimo.metainfo.xml"
               "${CMAKE_BINARY_DIR}/package/cn.strimo.strimo.metainfo.xml" @ONLY)
install(FILES "${CMAKE_BINARY_DIR}/package/cn.strimo.strimo.metainfo.xml" DESTINATION share/metainfo)
# Debian's policy: the copyright and a compressed changelog in the package's doc folder.
set(_changelog "${CMAKE_BINARY_DIR}/package/changelog.gz")
execute_process(COMMAND gzip -9nc "${CMAKE_SOURCE_DIR}/dist/package/changelog"
                OUTPUT_FILE "${_changelog}")
install(FILES "${CMAKE_SOURCE_DIR}/dist/package/copyright" "${_changelog}" DESTINATION share/doc/strimo)
set(_manual "${CMAKE_BINARY_DIR}/package/strimo.1.gz")
execute_process(COMMAND gzip -9nc "${CMAKE_SOURCE_DIR}/dist/package/strimo.1" OUTPUT_FILE "${_manual}")
install(FILES "${_manual}" DESTINATION share/man/man1)
install(CODE "file(CREATE_LINK strimo.1.gz \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/man/man1/strimo-update.1.gz\" SYMBOLIC)")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME strimo)
set(CPACK_PACKAGE_VENDOR STRIMO)
set(CPACK_PACKAGE_CONTACT "STRIMO developers <dev@strimo.cn>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/package")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The package's version is the release number of its version.xml: the launchers refresh a
# member's folder when it rises.
set(CPACK_DEBIAN_PACKAGE_VERSION "${STRIMO_RELEASE}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live broadcasting of the game you play")
set(CPACK_PACKAGE_DESCRIPTION "STRIMO直播 lets a member of a game-video service broadcast the game running
on their X11 desktop live: it captures the game window with the mouse arrow,
encodes H.264 and AAC and publishes the stream over RTMP to the service,
whose room pages play it. The updater StrimoUpdata brings the member's
installation up to date from the service's update host.")
# Depends is computed from the programs' shared libraries; the Chinese texts need a CJK font.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
