# Makes the release files in DIST_DIR: a .deb and a .tar.gz with the static
# executable for each Linux architecture (x86-64, and the ARM builds in
# BUILD_DIR/<name>), a .zip for each Windows image, the source archive of the
# committed tree, and SHA256SUMS over them. Each .deb must be lintian-clean,
# informational tags included.
# The same commit gives the same bytes in any folder at any time: file times
# are SOURCE_DATE_EPOCH (the commit's date unless set), names sorted, owner
# root, permissions 644 or 755.
# cmake -DSOURCE_DIR= -DBUILD_DIR= -DDIST_DIR= -DVERSION= -DWIN32_EXE= -DWIN64_EXE= -DSTATIC_EXE=
#   -DARM_BUILDS=aarch64,armhf -P Dist.cmake
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGN} COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
endfunction()

# git's own words say why it refused, e.g. a checkout owned by someone else.
execute_process(COMMAND git -C ${SOURCE_DIR} rev-parse --verify -q HEAD
  RESULT_VARIABLE no_commit OUTPUT_QUIET ERROR_VARIABLE why)
if(no_commit)
  message(FATAL_ERROR "the source archive is made from a commit, and git found none in ${SOURCE_DIR}:\n${why}")
endif()
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -C ${SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()
set(ENV{SOURCE_DATE_EPOCH} ${epoch})
set(ENV{TZ} UTC)  # zip stores local times
set(ENV{LC_ALL} C)
foreach(image IN ITEMS ${WIN32_EXE} ${WIN64_EXE})
  if(NOT EXISTS ${image})
    message(FATAL_ERROR "no ${image}: the release needs both Windows images (the mingw-w64 cross compilers)")
  endif()
endforeach()
if(NOT STATIC_EXE OR NOT EXISTS "${STATIC_EXE}")
  message(FATAL_ERROR "no static executable: the release needs it (musl-gcc, Debian's musl-tools)")
endif()
string(REPLACE "," ";" arm_builds "${ARM_BUILDS}")
if(NOT arm_builds STREQUAL "aarch64;armhf")
  message(FATAL_ERROR "the release needs the aarch64 and armhf builds (the cross compilers "
    "g++-aarch64-linux-gnu and g++-arm-linux-gnueabihf), not '${ARM_BUILDS}'")
endif()

file(REMOVE_RECURSE ${DIST_DIR})
set(stage ${DIST_DIR}/.stage)
file(MAKE_DIRECTORY ${stage})

# Permissions as the umask would not have them, then the one time for all.
function(normalise dir)
  run(chmod -R u+rwX,go+rX,go-w ${dir})
  run(find ${dir} -exec touch -h -d @${epoch} {} +)
endfunction()

# A .deb: CPack's package from the build in DIR, rebuilt from its own tree by
# dpkg-deb, which sorts the names, owns them by root and dates the archive
# members by SOURCE_DATE_EPOCH; then lintian, which must have nothing to say.
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
set(lintian_root "")
if(uid STREQUAL "0")
  set(lintian_root --allow-root)
endif()
function(deb name dir)
  run(cpack -G DEB --config ${dir}/CPackConfig.cmake -B ${stage}/cpack-${name})
  file(GLOB deb ${stage}/cpack-${name}/*.deb)
  get_filename_component(deb_name ${deb} NAME)
  run(dpkg-deb -R ${deb} ${stage}/deb-${name})
  normalise(${stage}/deb-${name})
  run(dpkg-deb --root-owner-group -Zxz --build ${stage}/deb-${name} ${DIST_DIR}/${deb_name})
  execute_process(COMMAND lintian -I ${lintian_root} --fail-on error,warning,info
      ${DIST_DIR}/${deb_name}
    RESULT_VARIABLE status OUTPUT_VARIABLE said ERROR_VARIABLE said)
  if(NOT status EQUAL 0 OR NOT said STREQUAL "")
    message(FATAL_ERROR "lintian on ${deb_name}: ${status}\n${said}")
  endif()
endfunction()

# A static executable for any Linux, with its manual page, the README and the
# licence, in
# a .tar.gz that keeps the executable bit: GNU tar in a fixed order, owned by
# root, every time the epoch; gzip -n leaves out its own name and time.
function(static_tar name exe)
  file(MAKE_DIRECTORY ${stage}/static-${name})
  file(COPY ${SOURCE_DIR}/doc/anykey.1 ${SOURCE_DIR}/README.md ${SOURCE_DIR}/LICENSE
    DESTINATION ${stage}/static-${name})
  file(COPY_FILE ${exe} ${stage}/static-${name}/anykey)
  normalise(${stage}/static-${name})
  execute_process(
    COMMAND tar --format=gnu --sort=name --owner=0 --group=0 --numeric-owner
      --mtime=@${epoch} -cf - anykey anykey.1 README.md LICENSE
    COMMAND gzip -9n
    WORKING_DIRECTORY ${stage}/static-${name}
    OUTPUT_FILE ${DIST_DIR}/anykey-${VERSION}-linux-${name}-static.tar.gz
    COMMAND_ERROR_IS_FATAL ANY)
endfunction()

deb(x86_64 ${BUILD_DIR})
static_tar(x86_64 ${STATIC_EXE})
foreach(name IN LISTS arm_builds)
  deb(${name} ${BUILD_DIR}/${name})
  static_tar(${name} ${BUILD_DIR}/${name}/static/anykey)
endforeach()

# The .zip files: the image, the README and the licence, in that order,
# without the extra fields that hold owners and local times.
foreach(build win32 win64)
  string(TOUPPER ${build} variable)
  file(MAKE_DIRECTORY ${stage}/${build})
  file(COPY ${${variable}_EXE} ${SOURCE_DIR}/README.md ${SOURCE_DIR}/LICENSE
    DESTINATION ${stage}/${build})
  normalise(${stage}/${build})
  execute_process(COMMAND zip -X -D -q ${DIST_DIR}/anykey-${VERSION}-${build}.zip anykey.exe README.md LICENSE
    WORKING_DIRECTORY ${stage}/${build} COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# The source archive: git writes the committed tree in a fixed order with the
# commit's time and no owner; gzip -n leaves out its own name and time.
execute_process(
  COMMAND git -C ${SOURCE_DIR} -c tar.umask=022 archive --format=tar --prefix=anykey-${VERSION}/ HEAD
  COMMAND gzip -9n
  OUTPUT_FILE ${DIST_DIR}/anykey-${VERSION}.tar.gz COMMAND_ERROR_IS_FATAL ANY)

file(REMOVE_RECURSE ${stage})

# The MIT licence asks that its text go with every copy: each archive must
# list it (the .deb carries it as its copyright file).
file(GLOB archives ${DIST_DIR}/*.zip ${DIST_DIR}/*.tar.gz)
foreach(archive IN LISTS archives)
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${archive}
    OUTPUT_VARIABLE listed COMMAND_ERROR_IS_FATAL ANY)
  if(NOT listed MATCHES "(^|\n)([^\n]*/)?LICENSE\n")
    message(FATAL_ERROR "no LICENSE in ${archive}:\n${listed}")
  endif()
endforeach()
file(GLOB files RELATIVE ${DIST_DIR} ${DIST_DIR}/*)
list(SORT files)
set(sums "")
foreach(name IN LISTS files)
  file(SHA256 ${DIST_DIR}/${name} sum)
  string(APPEND sums "${sum}  ${name}\n")
endforeach()
file(WRITE ${DIST_DIR}/SHA256SUMS "${sums}")
message(STATUS "release in ${DIST_DIR}:\n${sums}")
