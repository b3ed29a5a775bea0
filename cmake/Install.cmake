# Where everything goes on `make install` and in the .deb (`make deb`).
#
# The program reads serialcable.bmp and README.RTF from the folder it runs from, so the binary and
# those files live together in <libdir>/domivox, and <bindir>/domivox is a relative link to it (the
# program resolves its own folder through the link).

set(DOMIVOX_PKGDIR ${CMAKE_INSTALL_LIBDIR}/domivox)
# Installing (and so packaging) builds nothing: `make install` and `make deb` build first, and the
# package test depends on exactly what is installed, so cpack does not rebuild every test.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
# Installed directories are world-readable whatever the umask of whoever builds the package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The hardening Debian builds its own packages with: checked libc calls where the optimiser can
# prove buffer sizes, and the symbol table read-only once loaded.
get_property(DOMIVOX_ROOM_TARGETS GLOBAL PROPERTY DOMIVOX_ROOM_TARGETS)
foreach(target ${DOMIVOX_ROOM_TARGETS} domivox domivox_board_core domivox-board domivox_send_core
               domivox-send)
    target_compile_definitions(${target} PRIVATE
                               $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
endforeach()
target_link_options(domivox PRIVATE -Wl,-z,relro,-z,now)
target_link_options(domivox-board PRIVATE -Wl,-z,relro,-z,now)
target_link_options(domivox-send PRIVATE -Wl,-z,relro,-z,now)

install(TARGETS domivox RUNTIME DESTINATION ${DOMIVOX_PKGDIR})
install(FILES assets/serialcable.bmp assets/README.RTF DESTINATION ${DOMIVOX_PKGDIR})

file(RELATIVE_PATH DOMIVOX_LINK_TARGET ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_LIBDIR}/domivox/domivox)
install(CODE "set(DOMIVOX_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
              set(DOMIVOX_LINK_TARGET \"${DOMIVOX_LINK_TARGET}\")")
install(CODE [[
    if(IS_ABSOLUTE "${DOMIVOX_BINDIR}")
        set(link "$ENV{DESTDIR}${DOMIVOX_BINDIR}/domivox")
    else()
        set(link "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${DOMIVOX_BINDIR}/domivox")
    endif()
    get_filename_component(dir "${link}" DIRECTORY)
    file(MAKE_DIRECTORY "${dir}")
    file(CREATE_LINK "${DOMIVOX_LINK_TARGET}" "${link}" SYMBOLIC)
    message(STATUS "Installing: ${link} -> ${DOMIVOX_LINK_TARGET}")
]])

install(TARGETS domivox-board RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES assets/domivox.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES assets/org.example.domivox.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 48 128 256)
    install(FILES assets/domivox-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME domivox.png)
endforeach()
install(FILES assets/domivox.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Every hand-written page in assets/man and the changelog, compressed the way Debian wants them:
# gzip -9, and -n so the same file always gives the same bytes.
function(domivox_gzip source gz)
    get_filename_component(dir ${gz} DIRECTORY)
    add_custom_command(OUTPUT ${gz}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                       COMMAND gzip -9nc ${source} > ${gz}
                       DEPENDS ${source} VERBATIM)
endfunction()
file(GLOB DOMIVOX_MAN_PAGES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/assets/man/*.1)
set(DOMIVOX_MAN_GZ)
foreach(page ${DOMIVOX_MAN_PAGES})
    get_filename_component(name ${page} NAME)
    domivox_gzip(${page} ${CMAKE_CURRENT_BINARY_DIR}/man/${name}.gz)
    list(APPEND DOMIVOX_MAN_GZ ${CMAKE_CURRENT_BINARY_DIR}/man/${name}.gz)
endforeach()
set(DOMIVOX_CHANGELOG_GZ ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz)
domivox_gzip(${CMAKE_CURRENT_SOURCE_DIR}/assets/changelog ${DOMIVOX_CHANGELOG_GZ})
add_custom_target(domivox_man ALL DEPENDS ${DOMIVOX_MAN_GZ} ${DOMIVOX_CHANGELOG_GZ})
install(FILES ${DOMIVOX_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${DOMIVOX_CHANGELOG_GZ} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/domivox)

# What lintian is told to accept, each with its reason: above all the missing copyright file, since
# no licence has been chosen for the project yet and the package must not invent one.
install(FILES assets/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME domivox)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME domivox)
set(CPACK_PACKAGE_VENDOR "Domivox developers")
set(CPACK_PACKAGE_CONTACT "Domivox developers <domivox@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel for household devices on a serial board")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Domivox switches up to five household devices on and off through a small
controller board on the first serial port, one command letter per action.
It has ON and OFF buttons per device, a countdown that applies a five-device
pattern, remote switching through the title of a web page, and a password
lock.
.
The running panel offers its devices on the session bus, and domivox-send
switches them from a shell, a cron job or a systemd timer.
.
The package also holds domivox-board, which plays the controller board on a
pseudo-terminal, to try the program without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Every caption is measured to fit its control in Liberation Sans (platform/ui/Fonts); the
# libraries the binaries use are added to this list.
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-liberation)
# Qt's private native interface (the Wayland title) is only stable within one Qt release, so the
# package asks for the Qt it was built with, as Debian's own Qt programs do: through the name Qt's
# core library provides for that (qt6-base-abi in Debian 12, qt6-base-private-abi in Debian 13).
execute_process(COMMAND dpkg-query -W -f=\${Provides}\\n libqt6core6 libqt6core6t64
                OUTPUT_VARIABLE DOMIVOX_QTCORE_PROVIDES ERROR_QUIET)
string(REGEX MATCH "qt6-base(-private)?-abi \\(= [^)]+\\)" DOMIVOX_QT_ABI "${DOMIVOX_QTCORE_PROVIDES}")
if(DOMIVOX_QT_ABI)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${DOMIVOX_QT_ABI}")
endif()
# qt6-wayland is left out on purpose: without it a Wayland desktop runs the program through
# XWayland, where the frame is the desktop's own; with it, on a desktop that leaves frames to the
# program (GNOME), Qt would draw the title bar and write its own title in it.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
