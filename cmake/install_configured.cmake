# Runs at install time (install(SCRIPT)): writes the manual pages, the systemd unit, the
# crontab line and the demo script with the installed paths filled in.
function(chronoreel_full_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

chronoreel_full_path(BINDIR "${chronoreel_bindir}")
chronoreel_full_path(LIBEXECDIR "${chronoreel_libexecdir}")
chronoreel_full_path(MANDIR "${chronoreel_mandir}")
chronoreel_full_path(DOCDIR "${chronoreel_docdir}")
set(VERSION "${chronoreel_version}")
set(CHRONOREEL_PROGRAM "${BINDIR}/chronoreel")

# source (under packaging/), folder, installed name, mode
set(configured
    "man/chronoreel.1|${MANDIR}/man1|chronoreel.1|644"
    "man/chronoreel.tls.5|${MANDIR}/man5|chronoreel.tls.5|644"
    "systemd/chronoreel@.service.in|${DOCDIR}/examples/systemd|chronoreel@.service|644"
    "examples/chronoreel.cron.in|${DOCDIR}/examples|chronoreel.cron|644"
    "examples/run-demo.sh.in|${DOCDIR}/examples/demo|run-demo.sh|755")
foreach(entry IN LISTS configured)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 source)
  list(GET fields 1 folder)
  list(GET fields 2 name)
  list(GET fields 3 mode)
  set(target "$ENV{DESTDIR}${folder}/${name}")
  message(STATUS "Installing: ${target}")
  configure_file("${chronoreel_pkg}/${source}" "${target}" @ONLY)
  if(mode STREQUAL "755")
    file(CHMOD "${target}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                       WORLD_READ WORLD_EXECUTE)
  else()
    file(CHMOD "${target}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${target}")
endforeach()
