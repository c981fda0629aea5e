# Run by `cmake --install` after the programs are in place. Installs what
# lives outside the program folder's own tree and is placed by the prefix
# given at install time (not the one given when configuring), so that
# `cmake --install BUILD --prefix P` keeps everything under P:
# - the rules file: PREFIX/etc/kestrane/Filter.ini, or /etc/kestrane for the
#   prefix /usr (the package); shipped empty, and never replacing one that
#   is there, so an operator's rules survive a reinstall;
# - PREFIX/lib/kestrane/Filter.ini, a relative link to it: the programs read
#   Filter.ini from their own folder, and a relative link keeps working in an
#   unpacked copy of the tree;
# - PREFIX/bin/sievbat and PREFIX/bin/qvue, relative links to the programs
#   (the programs find their folder through /proc/self/exe, which resolves
#   the link);
# - the systemd units of the timed pass, in the folder systemd reads for the
#   prefix /usr, else under PREFIX/lib/systemd/system;
# - the sysusers.d file that makes the system user and group kestrane the
#   pass runs as, likewise in systemd's folder or under PREFIX/lib/sysusers.d.

function(kestrane_full_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

function(kestrane_link target link)
  get_filename_component(link_dir "${link}" DIRECTORY)
  file(RELATIVE_PATH relative "${link_dir}" "${target}")
  file(MAKE_DIRECTORY "$ENV{DESTDIR}${link_dir}")
  message(STATUS "Installing: $ENV{DESTDIR}${link} -> ${relative}")
  file(CREATE_LINK "${relative}" "$ENV{DESTDIR}${link}" SYMBOLIC)
endfunction()

kestrane_full_path(program_dir "${KESTRANE_PROGRAM_DIR}")
kestrane_full_path(bin_dir "${KESTRANE_BINDIR}")
if(NOT IS_ABSOLUTE "${KESTRANE_SYSCONFDIR}" AND CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(etc_dir "/etc")
else()
  kestrane_full_path(etc_dir "${KESTRANE_SYSCONFDIR}")
endif()
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(unit_dir "${KESTRANE_SYSTEMD_UNIT_DIR}")
  set(sysusers_dir "${KESTRANE_SYSUSERS_DIR}")
else()
  set(unit_dir "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
  set(sysusers_dir "${CMAKE_INSTALL_PREFIX}/lib/sysusers.d")
endif()

set(rules "${etc_dir}/kestrane/Filter.ini")
if(EXISTS "$ENV{DESTDIR}${rules}" OR IS_SYMLINK "$ENV{DESTDIR}${rules}")
  message(STATUS "Keeping: $ENV{DESTDIR}${rules}")
else()
  message(STATUS "Installing: $ENV{DESTDIR}${rules}")
  file(MAKE_DIRECTORY "$ENV{DESTDIR}${etc_dir}/kestrane")
  file(WRITE "$ENV{DESTDIR}${rules}" "")
endif()
kestrane_link("${rules}" "${program_dir}/Filter.ini")

set(programs sievbat)
if(KESTRANE_VIEWER)
  list(APPEND programs qvue)
endif()
foreach(program ${programs})
  kestrane_link("${program_dir}/${program}" "${bin_dir}/${program}")
endforeach()

set(KESTRANE_SIEVBAT "${bin_dir}/sievbat")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${unit_dir}")
foreach(unit kestrane-sievbat@.service kestrane-sievbat@.timer)
  message(STATUS "Installing: $ENV{DESTDIR}${unit_dir}/${unit}")
  configure_file("${KESTRANE_PACKAGING_SOURCE}/systemd/${unit}.in" "$ENV{DESTDIR}${unit_dir}/${unit}" @ONLY)
endforeach()
set(sysusers "${sysusers_dir}/kestrane-queue-tools.conf")
message(STATUS "Installing: $ENV{DESTDIR}${sysusers}")
configure_file("${KESTRANE_PACKAGING_SOURCE}/sysusers/kestrane-queue-tools.conf" "$ENV{DESTDIR}${sysusers}" COPYONLY)
