# Installs, on a Debian machine, what the tests need and the machine lacks:
#   cmake -P cmake/InstallTestDeps.cmake
# Uses sudo unless it runs as root. Does nothing when all is there.
# With -DANYKEY_LOADER=ON, also what the loader workflow needs to build and
# boot its emulated machine; nobody else needs those. Likewise
# -DANYKEY_ARM_MACHINES=ON for the arm workflow, and -DANYKEY_MACOS=ON for
# the macos workflow.
set(packages
  g++ cmake make libgtest-dev     # the native build and its unit tests
  musl-tools                      # the static Linux executable
  g++-mingw-w64-i686              # the 32-bit Windows image
  g++-mingw-w64-x86-64            # the 64-bit Windows image
  wine64                          # runs the 64-bit image
  bash dash zsh busybox mksh      # the shells users have, in the terminal tests
  util-linux                      # unshare, for a root without /dev/tty
  dpkg-dev lintian man-db         # the .deb: dependencies, lint, install
  git zip                         # the release: source archive, Windows archives
  groff-base mandoc               # the manual page
  clang-format clang-tidy         # style and static checks
  clang                           # the second compiler (its sanitizers: below)
  valgrind                        # counts heap allocations
  strace                          # the benchmark's and the static executable's system calls
  libunicorn-dev)                 # runs the Windows images' machine code
# The ARM Linux files; with -DANYKEY_ARM_MACHINES=ON, what boots their kernels.
list(APPEND packages
  g++-aarch64-linux-gnu g++-arm-linux-gnueabihf   # the arm64 and armhf builds
  musl-dev:arm64 musl-dev:armhf)                  # their static executables
if(ANYKEY_ARM_MACHINES)
  list(APPEND packages qemu-system-arm cpio)     # the emulated machines, their initramfs
endif()
# The macOS builds: npm fetches Zig (unless an npm is there already, as one
# that comes with Node.js from elsewhere), LLVM's tools read the Mach-O files.
if(ANYKEY_MACOS)
  list(APPEND packages llvm)
  find_program(npm npm)
  if(NOT npm)
    list(APPEND packages npm)
  endif()
endif()
if(ANYKEY_LOADER)
  list(APPEND packages
    qemu-system-x86                 # the emulated x86-64 machine
    mmdebstrap debian-archive-keyring e2fsprogs)  # its Debian 13 root, as an ext4 image
endif()

# hardening-check, from devscripts, whose many recommendations the tests do
# not need: installed on its own, without them.
if(NOT EXISTS /usr/bin/hardening-check)
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(sudo "")
  if(NOT uid STREQUAL "0")
    set(sudo sudo)
  endif()
  message(STATUS "Installing: devscripts")
  execute_process(COMMAND ${sudo} apt-get update -q COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${sudo} env DEBIAN_FRONTEND=noninteractive
      apt-get install -y -q --no-install-recommends devscripts
    COMMAND_ERROR_IS_FATAL ANY)
endif()

execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
set(as_root "")
if(NOT uid STREQUAL "0")
  set(as_root sudo)
endif()
set(updated OFF)

# musl for ARM comes as those architectures' own packages (multiarch): dpkg
# must know the architectures before apt can install them.
execute_process(COMMAND dpkg --print-foreign-architectures
  OUTPUT_VARIABLE foreign COMMAND_ERROR_IS_FATAL ANY)
foreach(arch arm64 armhf)
  if(NOT foreign MATCHES "(^|\n)${arch}(\n|$)")
    message(STATUS "Adding the ${arch} architecture to dpkg")
    execute_process(COMMAND ${as_root} dpkg --add-architecture ${arch} COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()

# Installs those of the given packages that are not installed yet.
function(install_missing)
  set(missing "")
  foreach(package IN LISTS ARGN)
    execute_process(COMMAND dpkg-query -W -f=\${Status} ${package}
      OUTPUT_VARIABLE status ERROR_QUIET)
    if(NOT status MATCHES "install ok installed")
      list(APPEND missing ${package})
    endif()
  endforeach()
  if(NOT missing)
    return()
  endif()
  message(STATUS "Installing: ${missing}")
  if(NOT updated)
    execute_process(COMMAND ${as_root} apt-get update -q COMMAND_ERROR_IS_FATAL ANY)
    set(updated ON PARENT_SCOPE)
  endif()
  # Inside sudo, which drops the caller's environment.
  execute_process(
    COMMAND ${as_root} env DEBIAN_FRONTEND=noninteractive apt-get install -y -q ${install_options}
      ${missing}
    COMMAND_ERROR_IS_FATAL ANY)
endfunction()

install_missing(${packages})
# diffoscope, which shows what differs when the two releases do: its own
# code, without the hundred tools it recommends for other kinds of file.
set(install_options --no-install-recommends)
install_missing(diffoscope-minimal)
set(install_options "")
# clang's sanitizer runtime, libFuzzer's among it, is packaged per clang
# version (libclang-rt-14-dev on Debian 12, -19- on Debian 13): the one of
# the clang the distribution made its default, which the clang package names.
execute_process(COMMAND dpkg-query -W -f=\${Depends} clang
  OUTPUT_VARIABLE depends COMMAND_ERROR_IS_FATAL ANY)
if(NOT depends MATCHES "(^|, )clang-([0-9]+)( |,|$)")
  message(FATAL_ERROR "the clang package names no versioned clang: ${depends}")
endif()
install_missing(libclang-rt-${CMAKE_MATCH_2}-dev)
message(STATUS "All test dependencies are installed.")
