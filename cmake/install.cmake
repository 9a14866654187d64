# Installation of everything but the program itself, which src/CMakeLists.txt
# installs to bin: the manuals, the sample configuration (and the system
# configuration made from it when there is none), the daemon's rc.d script or
# systemd unit with the sysusers.d file of its user, and the shell
# completions; then the Debian package of CPack.

include(GNUInstallDirs)

if(CMAKE_SYSTEM_NAME STREQUAL "FreeBSD")
  set(tesk_on_freebsd ON)
else()
  set(tesk_on_freebsd OFF)
endif()
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(tesk_on_linux ON)
else()
  set(tesk_on_linux OFF)
endif()
option(TESK_INSTALL_RCD "Install the rc.d script of the daemon" ${tesk_on_freebsd})
option(TESK_INSTALL_SYSTEMD "Install the systemd unit of the daemon" ${tesk_on_linux})
set(TESK_RCDDIR "etc/rc.d" CACHE STRING "Directory of the rc.d script, below the prefix")
set(TESK_SYSTEMDUNITDIR "lib/systemd/system" CACHE STRING
  "Directory of the systemd unit, below the prefix")
set(TESK_SYSUSERSDIR "lib/sysusers.d" CACHE STRING
  "Directory of the sysusers.d file of the daemon's user, below the prefix")

# The system user that the systemd unit runs the daemon as, as the sysusers.d
# file declares it and the Debian package's postinst makes it.
set(tesk_user_comment "tesk Wake-on-LAN proxy daemon")
set(tesk_user_home "/nonexistent")
set(tesk_user_shell "/usr/sbin/nologin")

set(TESK_BINDIR "${CMAKE_INSTALL_FULL_BINDIR}")
set(tesk_examples_dir "${CMAKE_INSTALL_DATAROOTDIR}/examples/tesk")
set(tesk_bash_dir "${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions")
set(tesk_zsh_dir "${CMAKE_INSTALL_DATAROOTDIR}/zsh/site-functions")

# The system configuration directory is compiled into the program. When it lies
# below the prefix, it is installed relative to it, so that an install into
# another prefix (cmake --install --prefix DIR) keeps it below DIR as well.
cmake_path(IS_PREFIX CMAKE_INSTALL_PREFIX "${TESK_SYSCONFDIR}" NORMALIZE tesk_sysconf_below_prefix)
if(tesk_sysconf_below_prefix)
  cmake_path(RELATIVE_PATH TESK_SYSCONFDIR BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}"
    OUTPUT_VARIABLE tesk_sysconf_destination)
  if(tesk_sysconf_destination STREQUAL "")
    set(tesk_sysconf_destination ".")
  endif()
else()
  set(tesk_sysconf_destination "${TESK_SYSCONFDIR}")
endif()

set(tesk_packaging_dir "${CMAKE_BINARY_DIR}/packaging")

# Writes `content` to `path` unless it holds it already, so that nothing that
# depends on the file is redone when it has not changed.
function(tesk_write_if_changed path content)
  if(EXISTS "${path}")
    file(READ "${path}" old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE "${path}" "${content}")
endfunction()

# The manuals name the paths of a default build; installed ones name the paths
# of this build.
set(tesk_manual_paths
  "/usr/local/etc/tesk.conf" "${TESK_SYSCONFDIR}/tesk.conf"
  "/usr/local/share/examples/tesk" "${CMAKE_INSTALL_PREFIX}/${tesk_examples_dir}"
  "/usr/local/etc/rc.d/tesk" "${CMAKE_INSTALL_PREFIX}/${TESK_RCDDIR}/tesk"
  "/usr/local/etc/tesk.env" "${TESK_SYSCONFDIR}/tesk.env"
  "/usr/local/lib/systemd/system/tesk.service"
  "${CMAKE_INSTALL_PREFIX}/${TESK_SYSTEMDUNITDIR}/tesk.service"
  "/usr/local/lib/sysusers.d/tesk.conf" "${CMAKE_INSTALL_PREFIX}/${TESK_SYSUSERSDIR}/tesk.conf"
  "/usr/local/share/bash-completion/completions/tesk"
  "${CMAKE_INSTALL_PREFIX}/${tesk_bash_dir}/tesk"
  "/usr/local/share/zsh/site-functions/_tesk" "${CMAKE_INSTALL_PREFIX}/${tesk_zsh_dir}/_tesk")
foreach(manual tesk.1 tesk.conf.5)
  set(source "${PROJECT_SOURCE_DIR}/man/${manual}")
  set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
  file(READ "${source}" text)
  set(paths ${tesk_manual_paths})
  while(paths)
    list(POP_FRONT paths from to)
    string(REPLACE "${from}" "${to}" text "${text}")
  endwhile()
  tesk_write_if_changed("${CMAKE_BINARY_DIR}/man/${manual}" "${text}")
endforeach()

configure_file("${PROJECT_SOURCE_DIR}/packaging/freebsd/tesk.in" "${tesk_packaging_dir}/freebsd/tesk"
  @ONLY)
configure_file("${PROJECT_SOURCE_DIR}/packaging/systemd/tesk.service.in"
  "${tesk_packaging_dir}/systemd/tesk.service" @ONLY)
configure_file("${PROJECT_SOURCE_DIR}/packaging/systemd/tesk.sysusers.in"
  "${tesk_packaging_dir}/systemd/tesk.sysusers" @ONLY)

# An existing system configuration is never replaced: the install script
# copies the sample only where there is none. The Debian package leaves this to
# its postinst script, so that dpkg never owns the file.
set(tesk_sample "${PROJECT_SOURCE_DIR}/packaging/tesk.conf.sample")
file(CONFIGURE OUTPUT "${tesk_packaging_dir}/install-config.cmake" @ONLY CONTENT [=[
set(directory "@tesk_sysconf_destination@")
if(NOT IS_ABSOLUTE "${directory}")
  set(directory "${CMAKE_INSTALL_PREFIX}/${directory}")
endif()
set(config "$ENV{DESTDIR}${directory}/tesk.conf")
if(EXISTS "${config}" OR IS_SYMLINK "${config}")
  message(STATUS "Keeping: ${config}")
else()
  file(INSTALL DESTINATION "${directory}" TYPE FILE RENAME tesk.conf FILES "@tesk_sample@")
endif()
]=])

install(FILES "${CMAKE_BINARY_DIR}/man/tesk.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${CMAKE_BINARY_DIR}/man/tesk.conf.5" DESTINATION "${CMAKE_INSTALL_MANDIR}/man5")
install(FILES "${tesk_sample}" DESTINATION "${tesk_examples_dir}")
install(SCRIPT "${tesk_packaging_dir}/install-config.cmake" COMPONENT config)
install(FILES "${PROJECT_SOURCE_DIR}/completions/tesk.bash" DESTINATION "${tesk_bash_dir}"
  RENAME tesk)
install(FILES "${PROJECT_SOURCE_DIR}/completions/_tesk" DESTINATION "${tesk_zsh_dir}")
if(TESK_INSTALL_RCD)
  install(PROGRAMS "${tesk_packaging_dir}/freebsd/tesk" DESTINATION "${TESK_RCDDIR}")
endif()
if(TESK_INSTALL_SYSTEMD)
  install(FILES "${tesk_packaging_dir}/systemd/tesk.service" DESTINATION "${TESK_SYSTEMDUNITDIR}")
  install(FILES "${tesk_packaging_dir}/systemd/tesk.sysusers" DESTINATION "${TESK_SYSUSERSDIR}"
    RENAME tesk.conf)
endif()

# What the packaging tests look for: the installed files, below the prefix.
set(tesk_installed
  "${CMAKE_INSTALL_BINDIR}/tesk"
  "${CMAKE_INSTALL_MANDIR}/man1/tesk.1"
  "${CMAKE_INSTALL_MANDIR}/man5/tesk.conf.5"
  "${tesk_examples_dir}/tesk.conf.sample"
  "${tesk_bash_dir}/tesk"
  "${tesk_zsh_dir}/_tesk")
if(TESK_INSTALL_RCD)
  list(APPEND tesk_installed "${TESK_RCDDIR}/tesk")
endif()
if(TESK_INSTALL_SYSTEMD)
  list(APPEND tesk_installed "${TESK_SYSTEMDUNITDIR}/tesk.service" "${TESK_SYSUSERSDIR}/tesk.conf")
endif()
if(tesk_sysconf_below_prefix)
  list(APPEND tesk_installed "${tesk_sysconf_destination}/tesk.conf")
endif()
set(tesk_not_installed)
if(NOT TESK_INSTALL_RCD)
  list(APPEND tesk_not_installed "${TESK_RCDDIR}/tesk")
endif()
if(NOT TESK_INSTALL_SYSTEMD)
  list(APPEND tesk_not_installed "${TESK_SYSTEMDUNITDIR}/tesk.service"
    "${TESK_SYSUSERSDIR}/tesk.conf")
endif()
# The unit's environment file is the operator's to write.
list(APPEND tesk_not_installed "${tesk_sysconf_destination}/tesk.env")
list(JOIN tesk_installed " " tesk_installed_words)
list(JOIN tesk_not_installed " " tesk_not_installed_words)
tesk_write_if_changed("${tesk_packaging_dir}/layout.sh" "\
# The installation layout of this build, for the packaging tests.
prefix='${CMAKE_INSTALL_PREFIX}'
sysconfdir='${TESK_SYSCONFDIR}'
sysconf_destination='${tesk_sysconf_destination}'
installed='${tesk_installed_words}'
not_installed='${tesk_not_installed_words}'
rcd_script='${tesk_packaging_dir}/freebsd/tesk'
systemd_unit='${tesk_packaging_dir}/systemd/tesk.service'
systemd_unit_destination='${TESK_SYSTEMDUNITDIR}/tesk.service'
sysusers_file='${tesk_packaging_dir}/systemd/tesk.sysusers'
manuals='${CMAKE_BINARY_DIR}/man'
")

# The Debian package: the same files below the same prefix. Its postinst makes
# the daemon's user and the system configuration from the sample when there is
# none; purging removes the configuration.
set(CPACK_PACKAGE_NAME "tesk")
set(CPACK_PACKAGE_VENDOR "The tesk developers")
set(CPACK_PACKAGE_CONTACT "The tesk developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Wake-on-LAN sender and proxy daemon")
set(CPACK_PACKAGE_DESCRIPTION
  "tesk wakes machines by sending Wake-on-LAN magic packets over UDP, to hosts, host groups\n\
and MAC addresses, through configured gateways. As a proxy daemon it relays the magic\n\
packets that it receives to the configured hosts, so that machines can be woken on a\n\
network segment that the sender cannot broadcast to.")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
find_program(TESK_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TESK_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()
# Every component but the one that writes the system configuration.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified)

set(tesk_example_path "${CMAKE_INSTALL_PREFIX}/${tesk_examples_dir}/tesk.conf.sample")
set(tesk_sysusers_path "${CMAKE_INSTALL_PREFIX}/${TESK_SYSUSERSDIR}/tesk.conf")
file(CONFIGURE OUTPUT "${tesk_packaging_dir}/debian/postinst" @ONLY CONTENT [=[
#!/bin/sh
set -e
if [ "$1" = configure ]; then
	# The daemon's system user: as its sysusers.d file declares it, else the same
	# with the tools of the passwd package.
	if ! getent passwd tesk >/dev/null; then
		if [ -f "@tesk_sysusers_path@" ] && command -v systemd-sysusers >/dev/null 2>&1; then
			systemd-sysusers "@tesk_sysusers_path@"
		else
			getent group tesk >/dev/null || groupadd --system tesk
			useradd --system --gid tesk --no-create-home --home-dir "@tesk_user_home@" \
				--shell "@tesk_user_shell@" --comment "@tesk_user_comment@" tesk
		fi
	fi
	# Readable by the daemon's user whatever the umask.
	if [ ! -e "@TESK_SYSCONFDIR@/tesk.conf" ]; then
		mkdir -p "@TESK_SYSCONFDIR@"
		install -m 0644 "@tesk_example_path@" "@TESK_SYSCONFDIR@/tesk.conf"
	fi
fi
if [ -d /run/systemd/system ] && command -v systemctl >/dev/null 2>&1; then
	systemctl daemon-reload >/dev/null 2>&1 || true
fi
exit 0
]=])
# The system user tesk stays after removal and purge, as Debian's policy
# advises: files that it owns may remain, and must not pass to a later user.
file(CONFIGURE OUTPUT "${tesk_packaging_dir}/debian/postrm" @ONLY CONTENT [=[
#!/bin/sh
set -e
if [ "$1" = purge ]; then
	rm -f "@TESK_SYSCONFDIR@/tesk.conf"
fi
if [ -d /run/systemd/system ] && command -v systemctl >/dev/null 2>&1; then
	systemctl daemon-reload >/dev/null 2>&1 || true
fi
exit 0
]=])
file(CHMOD "${tesk_packaging_dir}/debian/postinst" "${tesk_packaging_dir}/debian/postrm"
  PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
  WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  "${tesk_packaging_dir}/debian/postinst;${tesk_packaging_dir}/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(tesk_on_linux)
  set(CPACK_GENERATOR "DEB")
endif()
set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build[^/]*/" "~$")
include(CPack)
