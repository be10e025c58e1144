# The hardening Debian builds its packages with, on every Linux executable:
# the flags dpkg-buildflags gives with hardening=+all for the target's
# architecture, less its optimisation, debugging and path-mapping flags,
# which the build sets itself. Debian 12's dpkg-buildflags stops short of
# what Debian 13's adds, so that is added here by hand: stack-clash probes,
# and the architecture's control-flow protection.
# PIE comes from the compiler's default for the dynamic builds; a static
# executable is linked at a fixed address, so PIE does not apply to it (a
# static PIE needs a start file that Debian's armhf C library lacks, and
# hardening-check takes one for a shared library and does not judge it).
# Immediate binding, likewise, has nothing to bind in a static executable,
# and musl has no fortified functions: there the flag changes nothing.
set(ANYKEY_DEB_ARCH_x86_64 amd64)
set(ANYKEY_DEB_ARCH_aarch64 arm64)
set(ANYKEY_DEB_ARCH_arm armhf)
# The target's architecture in Debian's words; the packages use it too.
set(ANYKEY_DEB_ARCH "${ANYKEY_DEB_ARCH_${CMAKE_SYSTEM_PROCESSOR}}")

function(anykey_harden target)
  # Debian's flags are for Linux targets; elsewhere the compiler's defaults.
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    return()
  endif()
  set(deb_arch ${ANYKEY_DEB_ARCH})
  find_program(ANYKEY_DPKG_BUILDFLAGS dpkg-buildflags)
  if(NOT ANYKEY_DPKG_BUILDFLAGS OR NOT deb_arch)
    message(WARNING "anykey: no hardening flags (dpkg-buildflags: '${ANYKEY_DPKG_BUILDFLAGS}', "
      "architecture '${CMAKE_SYSTEM_PROCESSOR}')")
    return()
  endif()
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_HOST_ARCH=${deb_arch}
        "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-fixfilepath,-fixdebugpath"
        "DEB_CXXFLAGS_MAINT_STRIP=-g -O2" ${ANYKEY_DPKG_BUILDFLAGS} --get ${kind}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(${kind} UNIX_COMMAND "${flags}")
  endforeach()
  list(APPEND CXXFLAGS -fstack-clash-protection)
  if(deb_arch STREQUAL "amd64")
    list(APPEND CXXFLAGS -fcf-protection)
  elseif(deb_arch STREQUAL "arm64")
    list(APPEND CXXFLAGS -mbranch-protection=standard)
  endif()
  target_compile_options(${target} PRIVATE ${CPPFLAGS} ${CXXFLAGS})
  target_link_options(${target} PRIVATE ${LDFLAGS})
endfunction()
