# What the loader steps share: when they can run at all, where the machine is
# kept, and how it boots. Included by machine.cmake and run.cmake.

# Why this machine cannot build or boot the guest, in OUT; empty if it can.
function(loader_host_lacks out)
  set(${out} "" PARENT_SCOPE)
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT uid STREQUAL "0")
    set(${out} "needs root (mmdebstrap builds the machine's root as root)" PARENT_SCOPE)
    return()
  endif()
  foreach(tool qemu-system-x86_64 mmdebstrap mke2fs)
    find_program(found_${tool} ${tool} PATHS /usr/sbin /sbin)
    if(NOT found_${tool})
      set(${out} "${tool} not found; install with "
        "cmake -DANYKEY_LOADER=ON -P cmake/InstallTestDeps.cmake" PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()

# The mirrors this machine's apt sources name for its own Debian release:
# the only ones it can reach.
function(loader_mirrors out)
  file(STRINGS /etc/os-release codename REGEX "^VERSION_CODENAME=")
  string(REPLACE "VERSION_CODENAME=" "" codename "${codename}")
  set(uris "")
  if(EXISTS /etc/apt/sources.list)
    file(STRINGS /etc/apt/sources.list lines REGEX "^deb ")
    foreach(line IN LISTS lines)
      if(line MATCHES "^deb +(\\[[^]]*\\] +)?([^ ]+) +${codename}( |$)")
        list(APPEND uris ${CMAKE_MATCH_2})
      endif()
    endforeach()
  endif()
  file(GLOB sources /etc/apt/sources.list.d/*.sources)
  foreach(file IN LISTS sources)
    file(READ ${file} text)
    string(REGEX REPLACE "\n[ \t]*\n" ";" stanzas "${text}")
    foreach(stanza IN LISTS stanzas)
      if(stanza MATCHES "(^|\n)Types:[^\n]*deb( |\n|$)"
         AND stanza MATCHES "(^|\n)Suites:([^\n]* )?${codename}( |\n|$)"
         AND stanza MATCHES "(^|\n)URIs: *([^\n]+)")
        string(REPLACE " " ";" found "${CMAKE_MATCH_2}")
        list(APPEND uris ${found})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES uris)
  if(NOT uris)
    message(FATAL_ERROR "no Debian mirror for ${codename} in this machine's apt sources")
  endif()
  set(${out} ${uris} PARENT_SCOPE)
endfunction()

# The machine's folder in the cache, named by a hash of what goes into it.
function(loader_machine_dir out)
  loader_mirrors(mirrors)
  file(SHA256 ${CMAKE_CURRENT_LIST_DIR}/machine.cmake script)
  string(SHA256 key "${script};${mirrors}")
  string(SUBSTRING ${key} 0 16 key)
  set(${out} ${CACHE_DIR}/${key} PARENT_SCOPE)
endfunction()

# Boots the machine on its serial console, its init running SHARE/init.sh,
# and waits for it to power off; its console goes to this step's output as
# it comes.
function(loader_boot machine share timeout)
  cmake_parse_arguments(PARSE_ARGV 3 boot "SNAPSHOT" "" "")
  set(drive file=${machine}/root.img,format=raw,if=virtio)
  if(boot_SNAPSHOT)
    string(APPEND drive ",snapshot=on")  # the cached image stays as it is
  endif()
  # -smap: with it, Wine's first 32-bit process meets a kernel oops.
  # panic=-1: a panic restarts the machine, which -no-reboot turns into the
  # end of qemu, rather than a wait for the time limit.
  execute_process(
    COMMAND qemu-system-x86_64 -machine q35 -cpu max,-smap -smp 2 -m 2048
      -nographic -no-reboot -nic none -monitor none -serial stdio
      -kernel ${machine}/vmlinuz -initrd ${machine}/initrd.img
      -append "root=/dev/vda rw console=ttyS0 quiet loglevel=3 panic=-1 init=/sbin/anykey-init"
      -drive ${drive}
      -virtfs local,path=${share},mount_tag=host,security_model=none
    INPUT_FILE /dev/null
    RESULT_VARIABLE status
    TIMEOUT ${timeout})
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "qemu: ${status} (the machine has ${timeout} s to power off)")
  endif()
endfunction()
