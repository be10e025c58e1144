# What the emulated machines and roots share (the loader's x86-64 machine,
# the ARM machines, the Debian 13 root): why this machine cannot make or run
# one, the Debian mirrors it can reach, a folder in the cache named by what
# goes into it, and a Debian root made by mmdebstrap.

# Why this machine cannot, in OUT; empty if it can. ROOT: why root is needed;
# TOOLS: the programs needed, which the test installer brings with INSTALL.
function(machine_host_lacks out)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "ROOT;INSTALL" "TOOLS")
  set(${out} "" PARENT_SCOPE)
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(arg_ROOT AND NOT uid STREQUAL "0")
    set(${out} "needs root (${arg_ROOT})" PARENT_SCOPE)
    return()
  endif()
  foreach(tool IN LISTS arg_TOOLS)
    find_program(found_${tool} ${tool} PATHS /usr/sbin /sbin)
    if(NOT found_${tool})
      set(${out} "${tool} not found; install with cmake ${arg_INSTALL} -P cmake/InstallTestDeps.cmake"
        PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()

# The mirrors this machine's apt sources name for its own Debian release:
# the only ones it can reach.
function(debian_mirrors out)
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

# The folder in PARENT named by a hash of FILES and the mirrors, so that a
# change to either makes a new one. With PRUNE, while it is not ready, the
# folders that earlier versions made beside it go: they are of no more use.
function(machine_cache_dir out parent)
  cmake_parse_arguments(PARSE_ARGV 2 arg "PRUNE" "" "FILES")
  debian_mirrors(key)
  foreach(file IN LISTS arg_FILES)
    file(SHA256 ${file} sum)
    list(APPEND key ${sum})
  endforeach()
  string(SHA256 key "${key}")
  string(SUBSTRING ${key} 0 16 key)
  set(dir ${parent}/${key})
  if(arg_PRUNE AND NOT EXISTS ${dir}/ready)
    file(GLOB olds LIST_DIRECTORIES true ${parent}/*)
    list(FILTER olds INCLUDE REGEX "/[0-9a-f]+$")
    list(REMOVE_ITEM olds ${dir})
    foreach(old IN LISTS olds)
      message("removing ${old}, made by an earlier version")
      file(REMOVE_RECURSE ${old})
    endforeach()
  endif()
  set(${out} ${dir} PARENT_SCOPE)
endfunction()

# A Debian root of SUITE in ROOT, mmdebstrap's minbase from this machine's
# mirrors; what follows goes to mmdebstrap.
function(debian_root root suite)
  debian_mirrors(mirrors)
  set(sources "")
  foreach(uri IN LISTS mirrors)
    list(APPEND sources "deb ${uri} ${suite} main")
  endforeach()
  file(REMOVE_RECURSE ${root})
  get_filename_component(parent ${root} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  message("mmdebstrap ${suite} from ${mirrors} (a few minutes)")
  execute_process(
    COMMAND mmdebstrap --variant=minbase "--aptopt=APT::Sandbox::User \"root\"" ${ARGN}
      ${suite} ${root} ${sources}
    COMMAND_ERROR_IS_FATAL ANY)
endfunction()
