# What `cmake --install` puts where; on Linux the Debian package CPack makes
# of it, for Windows a zip to unpack anywhere.
include(GNUInstallDirs)

if(WIN32)
  # The zip to hand on, made with the program: one folder holding it, the
  # README and how to run it elevated, with the line ends Windows editors
  # expect.
  set(zip Brackwen-${PROJECT_VERSION}-windows-x64)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/RUN-AS-ADMINISTRATOR.txt
    ${CMAKE_BINARY_DIR}/RUN-AS-ADMINISTRATOR.txt @ONLY NEWLINE_STYLE CRLF)
  set(zip_files $<TARGET_FILE:Brackwen> ${CMAKE_SOURCE_DIR}/README.md
    ${CMAKE_BINARY_DIR}/RUN-AS-ADMINISTRATOR.txt)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${zip}.zip
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${zip} ${zip}.zip
    COMMAND ${CMAKE_COMMAND} -E make_directory ${zip}
    COMMAND ${CMAKE_COMMAND} -E copy ${zip_files} ${zip}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${zip}.zip --format=zip ${zip}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${zip}
    DEPENDS ${zip_files}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  add_custom_target(windows_zip ALL DEPENDS ${CMAKE_BINARY_DIR}/${zip}.zip)
  install(TARGETS Brackwen RUNTIME DESTINATION .)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_BINARY_DIR}/RUN-AS-ADMINISTRATOR.txt
    DESTINATION .)
  return()
endif()

install(TARGETS Brackwen ffu-pack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# A link under the usual lower-case command name. The program still runs only
# as Brackwen: its name check reads the path of the executable the link
# resolves to, so the link runs it and a copy under another name does not.
install(CODE "
  set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/brackwen\")
  message(STATUS \"Installing: \${link} -> Brackwen\")
  file(CREATE_LINK Brackwen \"\${link}\" SYMBOLIC)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${link}\")
")

# The manual pages carry the version.
foreach(page Brackwen.1 ffu-pack.1)
  configure_file(${CMAKE_SOURCE_DIR}/man/${page}.in ${CMAKE_BINARY_DIR}/man/${page} @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/README.md
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/brackwen)

# The Debian package (scripts/package). Its dependencies: ntfs-3g, which
# mounts NTFS volumes, and the packages of the libraries the program and
# ffu-pack link, as dpkg-shlibdeps finds them in the binaries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brackwen)
set(CPACK_PACKAGE_VENDOR Brackwen)
set(CPACK_PACKAGE_CONTACT "Brackwen developers <brackwen@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "mount, list, check and extract Full Flash Update (FFU) images")
# The description's lines after the summary; CPack indents them.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
Brackwen validates an FFU image, builds a virtual disk from its payload,
attaches it as a loop device and mounts the image's operating-system
partition on a folder. It also lists an image's stores and partitions,
checks it against its hash table and extracts its disk or one partition as
a raw image. ffu-pack writes FFU files from raw GPT disk images.")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ntfs-3g, fuse3")
# libtsk is loaded at run time, so the package names it itself.
if(TSK_PACKAGE)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${TSK_PACKAGE}")
endif()
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# FUSE drivers of the other file systems a partition may hold, and the
# desktop's folder opener.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fusefat, exfat-fuse, fuse2fs, xdg-utils")
set(CPACK_STRIP_FILES ON)
include(CPack)
