# What goes where when the program is installed: the single source of the
# .deb (debian/rules) and the .rpm (packaging/pellomar.rpmbuild), both of which
# install with the prefix /usr:
#   cmake --install BUILD --prefix /usr                              everything
#   cmake --install BUILD --prefix /usr --component package-type-deb  and which tool updates it
# The program lives in its resource directory /usr/lib/pellomar with its page
# bundles and the root helpers the polkit actions name by that path; /usr/bin
# holds a link to it.
set(PMR_LIBDIR lib/pellomar)

install(TARGETS pellomar update-install setup-input RUNTIME DESTINATION ${PMR_LIBDIR})
# The page bundles as the build copied them (with the sorting library beside
# the main page); files 0644, folders 0755.
install(DIRECTORY ${CMAKE_BINARY_DIR}/ui ${CMAKE_BINARY_DIR}/linux-ui DESTINATION ${PMR_LIBDIR})

file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/gen)
file(CREATE_LINK ../${PMR_LIBDIR}/pellomar ${CMAKE_BINARY_DIR}/gen/pellomar.link SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/gen/pellomar.link DESTINATION bin RENAME pellomar)

install(FILES ${CMAKE_SOURCE_DIR}/data/app.pellomar.free.desktop DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/app.pellomar.free.metainfo.xml DESTINATION share/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/pellomar.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/data/polkit/app.pellomar.free.policy DESTINATION share/polkit-1/actions)
install(FILES ${CMAKE_SOURCE_DIR}/data/pellomar.bash
  DESTINATION share/bash-completion/completions RENAME pellomar)

# package-type tells the update which package tool installed the program. A
# plain `cmake --install` leaves it out (no self-update); each packaging adds
# its own component.
foreach(type deb rpm)
  file(WRITE ${CMAKE_BINARY_DIR}/gen/package-type.${type} "${type}\n")
  install(FILES ${CMAKE_BINARY_DIR}/gen/package-type.${type} DESTINATION ${PMR_LIBDIR}
    RENAME package-type COMPONENT package-type-${type} EXCLUDE_FROM_ALL)
endforeach()

# The manual page, made from the program's own --help and --version.
find_program(PMR_HELP2MAN help2man)
if(PMR_HELP2MAN)
  set(PMR_MANPAGE ${CMAKE_BINARY_DIR}/gen/pellomar.1)
  add_custom_command(OUTPUT ${PMR_MANPAGE}
    COMMAND ${PMR_HELP2MAN} --no-info --section=1
      "--name=auto clicker, key spammer and macro recorder"
      --output=${PMR_MANPAGE} $<TARGET_FILE:pellomar>
    DEPENDS pellomar
    COMMENT "Making the manual page from --help"
    VERBATIM)
  add_custom_target(manpage ALL DEPENDS ${PMR_MANPAGE})
  add_dependencies(tests manpage)
  install(FILES ${PMR_MANPAGE} DESTINATION share/man/man1)
else()
  message(WARNING "help2man is missing (scripts/deps.sh build): no manual page, and the packages cannot be built")
endif()
