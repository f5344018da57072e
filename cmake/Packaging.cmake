# Debian packages through CPack (scripts/package): "larkspire", the agent, and
# "larkspire-server", the local service. Library dependencies come from the binaries
# (dpkg-shlibdeps); only what is loaded at run time without being linked is named here.
include(GNUInstallDirs)

# Everything the packages hold: scripts/package builds this, then runs cpack.
add_custom_target(package_inputs)

# Manual pages and Debian's per-package documents are installed compressed, as policy asks;
# gzip -n keeps the archives reproducible.
function(larkspire_gzip source destination target)
  add_custom_command(OUTPUT ${destination}
    COMMAND gzip -9nc ${source} > ${destination}
    DEPENDS ${source} VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${destination})
  add_dependencies(package_inputs ${target})
endfunction()

function(larkspire_install_manual page component)
  get_filename_component(name ${page} NAME)
  set(out ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
  larkspire_gzip(${page} ${out} manual_${name})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

function(larkspire_install_debian_docs package component)
  set(out ${CMAKE_BINARY_DIR}/packaging/${package})
  file(MAKE_DIRECTORY ${out})
  larkspire_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${out}/changelog.gz
                 changelog_${package})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${out}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endfunction()

macro(larkspire_packaging)
  foreach(program larkspire larkspire-workspace larkspire-server)
    if(TARGET ${program})
      add_dependencies(package_inputs ${program})
    endif()
  endforeach()
  larkspire_install_debian_docs(larkspire agent)
  larkspire_install_debian_docs(larkspire-server server)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
  set(CPACK_PACKAGE_VENDOR "Larkspire")
  set(CPACK_PACKAGE_CONTACT "Larkspire developers <dev@larkspire.app>")
  set(CPACK_PACKAGE_HOMEPAGE_URL "https://larkspire.app/")
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL agent server)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

  set(CPACK_DEBIAN_AGENT_PACKAGE_NAME larkspire)
  set(CPACK_DEBIAN_AGENT_PACKAGE_SECTION utils)
  # The X11 platform plugin of Qt and the URL opener are loaded or run, never linked.
  set(CPACK_DEBIAN_AGENT_PACKAGE_DEPENDS "qt6-qpa-plugins, xdg-utils")
  # The accessibility bus (screen-aware requests, password fields) and a Secret Service
  # for the session.
  # qt6-wayland: the agent's windows in a Wayland session without XWayland.
  set(CPACK_DEBIAN_AGENT_PACKAGE_RECOMMENDS "at-spi2-core, gnome-keyring, qt6-wayland")
  set(CPACK_DEBIAN_AGENT_PACKAGE_SUGGESTS "larkspire-server")
  set(CPACK_COMPONENT_AGENT_DESCRIPTION
"voice input for the desktop: speak, and the text is pasted at the cursor
Larkspire lives in the tray: hold the dictation key (Right Alt by default),
speak, release, and the cleaned-up text is pasted at the cursor of the
application you were using. Control with the key drafts from what the
active window shows. Every recording stays on disk until its text has been
delivered.")

  set(CPACK_DEBIAN_SERVER_PACKAGE_NAME larkspire-server)
  set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
  # The acoustic model is data that the recogniser opens at run time.
  set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "pocketsphinx-en-us")
  set(CPACK_COMPONENT_SERVER_DESCRIPTION
"local service for the Larkspire agent
Serves the Larkspire service contract on loopback so the agent runs without
a network: sign-in with one-time codes written to an outbox, speech
recognition with PocketSphinx, speech synthesis with eSpeak NG, notes and
projects stored in SQLite. A systemd user unit runs it.")

  include(CPack)
endmacro()
