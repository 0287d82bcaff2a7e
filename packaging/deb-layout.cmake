# Run by CPack after the install into its staging folder, before the .deb is
# made (CPACK_PRE_BUILD_SCRIPTS): a package ships udev rules in the system's
# folder, /usr/lib/udev/rules.d; /etc/udev/rules.d belongs to the administrator.
# An install rule chosen for a local install (prefix /usr/local) puts the rules
# there, so they are moved.
file(GLOB_RECURSE staged_rules "${CPACK_TEMPORARY_DIRECTORY}/*.rules")
foreach(rule IN LISTS staged_rules)
  if(NOT rule MATCHES "^(.*)/etc/udev/rules.d/([^/]+)$")
    continue()
  endif()
  set(root "${CMAKE_MATCH_1}")
  set(name "${CMAKE_MATCH_2}")
  file(MAKE_DIRECTORY "${root}/usr/lib/udev/rules.d")
  file(RENAME "${rule}" "${root}/usr/lib/udev/rules.d/${name}")
  message(STATUS "udev rule ${name} moved to /usr/lib/udev/rules.d")
  # The folders left empty go too.
  foreach(dir "${root}/etc/udev/rules.d" "${root}/etc/udev" "${root}/etc")
    file(GLOB left "${dir}/*")
    if(left)
      break()
    endif()
    file(REMOVE_RECURSE "${dir}")
  endforeach()
endforeach()
