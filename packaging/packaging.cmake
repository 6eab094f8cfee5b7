# What a package holds beyond the programs: the manual pages compressed as Debian keeps them, the
# desktop entry, the AppStream metainfo, the icons, and the copyright and changelog. `cpack -G DEB`
# in a build folder makes plumo_VERSION_ARCH.deb from it, with the dependencies read off the shared
# libraries the programs link (dpkg-shlibdeps).
include(GNUInstallDirs)

set(plumo_manual_pages src/app/plumo.1 tools/plumo-play/plumo-play.1 tools/plumo-decode/plumo-decode.1)
set(plumo_compressed_pages)
foreach(page IN LISTS plumo_manual_pages)
  get_filename_component(name "${page}" NAME)
  set(out "${CMAKE_BINARY_DIR}/packaging/${name}.gz")
  add_custom_command(OUTPUT "${out}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/packaging"
    COMMAND gzip -9nc "${CMAKE_SOURCE_DIR}/${page}" > "${out}"
    DEPENDS "${CMAKE_SOURCE_DIR}/${page}" VERBATIM)
  list(APPEND plumo_compressed_pages "${out}")
endforeach()
set(plumo_changelog "${CMAKE_BINARY_DIR}/packaging/changelog.gz")
add_custom_command(OUTPUT "${plumo_changelog}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/packaging"
  COMMAND gzip -9nc "${CMAKE_SOURCE_DIR}/packaging/changelog" > "${plumo_changelog}"
  DEPENDS "${CMAKE_SOURCE_DIR}/packaging/changelog" VERBATIM)
add_custom_target(plumo_packaging_files ALL DEPENDS ${plumo_compressed_pages} "${plumo_changelog}")

install(FILES ${plumo_compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/copyright "${plumo_changelog}" DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME plumo)
set(CPACK_PACKAGE_VENDOR "PLUMO developers")
set(CPACK_PACKAGE_CONTACT "PLUMO developers <plumo@plumo.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tiny MPEG audio player panel")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "PLUMO is a 176 x 32 pixel desktop panel (play time, scrolling title,
two buttons) with an icon in the notification area, for MP3, MP2 and MP1
files and internet radio. It plays gaplessly and seeks to the exact sample
with its own decoder.

plumo-play plays files and stations on the terminal; plumo-decode decodes
them to WAV files.")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
include(CPack)
