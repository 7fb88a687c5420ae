# Debian packages, one per install component: scripts/package.sh configures a build with
# CMAKE_INSTALL_PREFIX=/usr and ONDREL_DEBIAN=ON and runs `cpack -G DEB`. Dependencies on
# other packages come from dpkg-shlibdeps; those between our own packages from the components.
set(debian_dir ${PROJECT_SOURCE_DIR}/packaging/debian)
set(packages libondrel2 libondrel-dev ondrel ondrel-messenger signpad tocd)

if(ONDREL_DEBIAN)
    # The service: its unit, its options, its system user; /lib as Debian 12 wants units.
    install(FILES ${debian_dir}/tocd.service DESTINATION /lib/systemd/system COMPONENT tocd)
    install(FILES ${debian_dir}/tocd.default DESTINATION /etc/default RENAME tocd COMPONENT tocd)
    install(FILES ${debian_dir}/tocd.sysusers DESTINATION lib/sysusers.d RENAME tocd.conf
        COMPONENT tocd)

    # Every package's copyright and changelog under /usr/share/doc.
    string(TIMESTAMP built "%a, %d %b %Y %H:%M:%S +0000" UTC)
    foreach(package IN LISTS packages)
        set(log ${CMAKE_BINARY_DIR}/debian/${package}/changelog.Debian)
        file(WRITE ${log} "${package} (${PROJECT_VERSION}-1) unstable; urgency=medium\n\n"
            "  * Built from the project's sources.\n\n"
            " -- Ondrel developers <ondrel@lantry.org>  ${built}\n")
        execute_process(COMMAND gzip -9nf ${log})
        install(FILES ${log}.gz ${debian_dir}/copyright
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${package})
    endforeach()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ondrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's own description gives its synopsis (first line), not a summary for all.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGE_CONTACT "Ondrel developers <ondrel@lantry.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_SET_DESTDIR ON)  # the unit and /etc/default lie outside the prefix
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${packages})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libondrel itself is in no installed package yet: dpkg-shlibdeps finds it in the build.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
foreach(package IN LISTS packages)
    string(TOUPPER ${package} upper)
    set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
endforeach()

set(CPACK_DEBIAN_LIBONDREL2_PACKAGE_SECTION libs)
# The loader's cache is refreshed by a trigger, as Debian wants, instead of CPack's scripts.
set(CPACK_DEBIAN_LIBONDREL2_PACKAGE_CONTROL_EXTRA ${debian_dir}/libondrel2/triggers
    ${debian_dir}/libondrel2/postinst ${debian_dir}/libondrel2/postrm)
set(CPACK_COMPONENT_LIBONDREL2_DESCRIPTION "TOC2 instant-messaging client control
libondrel holds the Ondrel control: a TOC2 client that a program embeds,
drives through methods and hears through events, with the component layer
that lets hosts create it by name (Lantry.Ondrel) and call it by dispatch
identifier.")

set(CPACK_DEBIAN_LIBONDREL-DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_LIBONDREL-DEV_DEPENDS libondrel2)
set(CPACK_DEBIAN_LIBONDREL-DEV_PACKAGE_DEPENDS "qt6-base-dev")
set(CPACK_COMPONENT_LIBONDREL-DEV_DESCRIPTION "TOC2 instant-messaging client control (development files)
The headers of libondrel, its CMake package (find_package(Ondrel)) and its
pkg-config file, for programs that embed the Ondrel control.")

set(CPACK_DEBIAN_ONDREL_PACKAGE_SECTION net)
set(CPACK_COMPONENT_ONDREL_DEPENDS libondrel2)
set(CPACK_COMPONENT_ONDREL_DESCRIPTION "TOC2 terminal client and JSON-RPC bridge
ondrel chat is a terminal client for TOC2 servers; ondrel bridge gives
scripts and bots in any language every method and event of the Ondrel
control as JSON-RPC 2.0 on standard input and output; ondrel register
records the control for hosts that create it by name.")

set(CPACK_DEBIAN_ONDREL-MESSENGER_PACKAGE_SECTION net)
set(CPACK_COMPONENT_ONDREL-MESSENGER_DEPENDS libondrel2)
set(CPACK_DEBIAN_ONDREL-MESSENGER_PACKAGE_DEPENDS qt6-qpa-plugins)
set(CPACK_DEBIAN_ONDREL-MESSENGER_PACKAGE_RECOMMENDS "fonts-noto-cjk, fonts-noto-color-emoji")
set(CPACK_COMPONENT_ONDREL-MESSENGER_DESCRIPTION "desktop instant messenger for TOC2 servers
The Ondrel Messenger: a sign-on window, a buddy list, a window per
conversation and per chat room, away messages, profiles and privacy
settings, built on the Ondrel control.")

set(CPACK_DEBIAN_SIGNPAD_PACKAGE_SECTION net)
set(CPACK_COMPONENT_SIGNPAD_DEPENDS libondrel2)
set(CPACK_DEBIAN_SIGNPAD_PACKAGE_DEPENDS qt6-qpa-plugins)
set(CPACK_COMPONENT_SIGNPAD_DESCRIPTION "small skinned sign-on panel for TOC2
signpad hosts one Ondrel control in a borderless panel: sign on, sign off
and change the password, with the reason of a failure shown under the
fields.")

set(CPACK_DEBIAN_TOCD_PACKAGE_SECTION net)
set(CPACK_DEBIAN_TOCD_PACKAGE_CONTROL_EXTRA ${debian_dir}/tocd/conffiles ${debian_dir}/tocd/postinst)
# Qt loads its SQLite driver and its window-system plugin at run time, out of
# dpkg-shlibdeps' sight: those dependencies are named here.
set(CPACK_DEBIAN_TOCD_PACKAGE_DEPENDS "adduser, libqt6sql6-sqlite")
set(CPACK_COMPONENT_TOCD_DESCRIPTION "local TOC2 instant-messaging server
tocd serves accounts, stored buddy, permit and deny lists, instant messages,
presence, chat rooms and profiles over the TOC2 protocol, with an account
that answers every message. It comes with a systemd unit (not started on
installation) and operator commands for its accounts and backups.")

include(CPack)
