# Install rules of the documents and the packages made by cpack: in a native
# build tree a Debian package of the command-line tool, in the Windows trees
# a zip of the plug-in modules for the host's users. Both carry the project's
# version, which is set once by project() in the top CMakeLists.txt.
set(CPACK_PACKAGE_NAME vexlor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the vexlor developers")
set(CPACK_PACKAGE_CONTACT "the vexlor developers <dev@vexlor.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "per-pixel expression filter for pictures and videos")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

if(WIN32)
  # One zip for the host's users holds both modules, each in the folder its
  # host loads modules from: plugins/vexlor.vdf (32-bit) and
  # plugins64/vexlor.vdf (64-bit), with a README.txt and the licence with
  # Windows line ends at its top level. Each Windows tree installs its own
  # module; cpack run in either tree packs every tree of VEXLOR_ZIP_TREES
  # (the presets name both), each built first (scripts/package.sh does).
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME vexlor-${PROJECT_VERSION}-windows)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(VEXLOR_ZIP_TREES "" CACHE STRING "The Windows build trees whose modules the zip holds")
  foreach(tree IN LISTS VEXLOR_ZIP_TREES)
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS ${tree} ${PROJECT_NAME} ALL /)
  endforeach()
  set(windows_docs ${PROJECT_SOURCE_DIR}/docs/README-windows.txt ${PROJECT_SOURCE_DIR}/LICENSE
                   ${PROJECT_SOURCE_DIR}/docs/third-party-win32.txt)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${windows_docs})
  configure_file(docs/README-windows.txt ${PROJECT_BINARY_DIR}/zip/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
  file(READ ${PROJECT_SOURCE_DIR}/docs/third-party-win32.txt notices)
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/zip/LICENSE.txt CONTENT "${license}${notices}"
       @ONLY NEWLINE_STYLE CRLF)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(module_folder plugins64)
  else()
    set(module_folder plugins)
  endif()
  install(TARGETS vexlor_module LIBRARY DESTINATION ${module_folder}
                                RUNTIME DESTINATION ${module_folder})
  install(FILES ${PROJECT_BINARY_DIR}/zip/README.txt ${PROJECT_BINARY_DIR}/zip/LICENSE.txt
          DESTINATION .)
else()
  # vexlor_VERSION_ARCH.deb under /usr; Depends is computed by dpkg-shlibdeps
  # from the libraries the binary links, whichever they are.
  set(CPACK_GENERATOR DEB)
  # The module is linked stripped; the tool is stripped here, as Debian ships.
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The completion under /usr/share/bash-completion is loaded by that package.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
  string(CONCAT CPACK_PACKAGE_DESCRIPTION
      "vexlor runs a short program of assignments, such as rd=rs*0.5;gd=gs;bd=bs;,\n"
      "for every pixel of a picture or of every frame of a video, keeping the video's\n"
      "sound. It is the command-line twin of a plug-in for a Windows video host and\n"
      "gives the same pixels, bit for bit. It also explains programs, runs them on\n"
      "one pixel, and edits them live in the browser. The frei0r plug-in\n"
      "/usr/lib/frei0r-1/vexlor.so runs the same programs inside ffmpeg (-vf frei0r),\n"
      "MLT (melt, Kdenlive, Shotcut) and GStreamer (frei0r-filter-vexlor).")
  # The README's links lead to files shipped beside it: the documents and
  # pictures it names keep their folders, and the copyright file, which
  # Debian keeps at the top, is linked there.
  file(READ ${PROJECT_SOURCE_DIR}/README.md readme)
  string(REPLACE "](docs/copyright)" "](copyright)" readme "${readme}")
  file(WRITE ${PROJECT_BINARY_DIR}/doc/README.md "${readme}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
  install(FILES ${PROJECT_BINARY_DIR}/doc/README.md ${PROJECT_SOURCE_DIR}/LICENSE
                ${PROJECT_SOURCE_DIR}/docs/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/docs/api.md ${PROJECT_SOURCE_DIR}/docs/architecture.md
                ${PROJECT_SOURCE_DIR}/docs/bad-inputs.md ${PROJECT_SOURCE_DIR}/docs/editor.png
                ${PROJECT_SOURCE_DIR}/docs/editor-pixel.png
                ${PROJECT_SOURCE_DIR}/docs/editor-language.png
                ${PROJECT_SOURCE_DIR}/docs/editor-video.png
          DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
  install(FILES ${PROJECT_SOURCE_DIR}/host/dialog.png DESTINATION ${CMAKE_INSTALL_DOCDIR}/host)
endif()

include(CPack)
