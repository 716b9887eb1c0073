# The program as a desktop application: the user's guide compiled into
# KorvelHelp.chm, and what `cmake --install` puts where (prefix /usr/local by
# default):
#   bin/korvel-pst-repair
#   share/applications/<id>.desktop       menu entry; its Path= is the help
#                                         directory, so Help > Content finds the
#                                         guide when started from the menu
#   share/korvel-pst-repair/KorvelHelp.chm
#   share/icons/hicolor/<size>/apps/<id>.png
#   share/mime/packages/<id>.xml          application/vnd.ms-outlook-pst
#   share/metainfo/<id>.metainfo.xml
include(GNUInstallDirs)

set(KORVEL_APP_ID io.github.korvel.PstRepair)
set(KORVEL_HELP_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/korvel-pst-repair)
set(KORVEL_HELP_CHM ${CMAKE_BINARY_DIR}/help/KorvelHelp.chm)
set(KORVEL_DATA_DIR ${PROJECT_SOURCE_DIR}/data)

target_compile_definitions(korvel_app PRIVATE KORVEL_APP_ID="${KORVEL_APP_ID}")

# --- The user's guide -------------------------------------------------------
# chmcmd compiles in the directory of its project file, so the sources are
# copied into the build tree first; the guide then lies in build/help, where
# scripts/run.sh starts the program.
find_program(KORVEL_CHMCMD chmcmd)
file(GLOB KORVEL_HELP_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/help/*)
if(KORVEL_CHMCMD)
  set(help_work ${CMAKE_BINARY_DIR}/help/src)
  add_custom_command(
    OUTPUT ${KORVEL_HELP_CHM}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${help_work}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/docs/help ${help_work}
    COMMAND ${CMAKE_COMMAND} -E chdir ${help_work} ${KORVEL_CHMCMD} --verbosity 1 KorvelHelp.hhp
    COMMAND ${CMAKE_COMMAND} -E rename ${help_work}/KorvelHelp.chm ${KORVEL_HELP_CHM}
    DEPENDS ${KORVEL_HELP_SOURCES}
    COMMENT "Compiling the user's guide into KorvelHelp.chm"
    VERBATIM)
  add_custom_target(korvel_help ALL DEPENDS ${KORVEL_HELP_CHM})
  # Building the program builds its guide (scripts/run.sh builds only the
  # program's target).
  add_dependencies(korvel-pst-repair korvel_help)
  install(FILES ${KORVEL_HELP_CHM} DESTINATION ${KORVEL_HELP_INSTALL_DIR})
else()
  message(STATUS "chmcmd not found (Debian package fp-utils): the user's guide "
                 "KorvelHelp.chm is neither built nor installed, and Help > Content finds nothing")
endif()

# --- Installation -----------------------------------------------------------
install(TARGETS korvel-pst-repair RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The entry names the installed program and the help directory by full path,
# so it is made at install time, under the prefix the install is given
# (`cmake --install --prefix` may differ from the configured one).
set(desktop_in ${KORVEL_DATA_DIR}/${KORVEL_APP_ID}.desktop.in)
set(desktop_out ${CMAKE_BINARY_DIR}/data/${KORVEL_APP_ID}.desktop)
install(CODE "
  set(KORVEL_INSTALL_EXECUTABLE \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/korvel-pst-repair\")
  set(KORVEL_INSTALL_HELP_DIR \"\${CMAKE_INSTALL_PREFIX}/${KORVEL_HELP_INSTALL_DIR}\")
  configure_file(\"${desktop_in}\" \"${desktop_out}\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications\"
       TYPE FILE FILES \"${desktop_out}\")
")
install(FILES ${KORVEL_DATA_DIR}/${KORVEL_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${KORVEL_DATA_DIR}/${KORVEL_APP_ID}.mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME ${KORVEL_APP_ID}.xml)
install(DIRECTORY ${KORVEL_DATA_DIR}/icons/hicolor
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons FILES_MATCHING PATTERN "*.png")

# The desktop reads file types, menu entries and icons through caches made
# from the installed files: remake them for a direct install. A staged one
# (DESTDIR) leaves that to the package's own scripts on the target system.
install(CODE "
  if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
    set(korvel_share \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}\")
    find_program(korvel_update_mime update-mime-database)
    find_program(korvel_update_desktop update-desktop-database)
    find_program(korvel_update_icons gtk-update-icon-cache)
    if(korvel_update_mime)
      message(STATUS \"Updating \${korvel_share}/mime\")
      execute_process(COMMAND \${korvel_update_mime} \"\${korvel_share}/mime\")
    endif()
    if(korvel_update_desktop)
      execute_process(COMMAND \${korvel_update_desktop} \"\${korvel_share}/applications\")
    endif()
    if(korvel_update_icons)
      execute_process(COMMAND \${korvel_update_icons} -q -t -f \"\${korvel_share}/icons/hicolor\")
    endif()
  endif()
")
