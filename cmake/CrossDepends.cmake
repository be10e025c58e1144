# CPack reads this when it packages a cross build: the .deb depends on libc6
# at the newest GLIBC_ symbol version the program takes from it. For the
# x86-64 build that is what dpkg-shlibdeps derives from libc6's symbols file
# (2.34, for __libc_start_main).
execute_process(COMMAND readelf --dyn-syms -W ${CPACK_ANYKEY_BINARY}
  OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "@GLIBC_[0-9.]+" versions "${symbols}")
set(newest 0)
foreach(version IN LISTS versions)
  string(REPLACE "@GLIBC_" "" version ${version})
  if(version VERSION_GREATER newest)
    set(newest ${version})
  endif()
endforeach()
if(newest VERSION_EQUAL 0)
  message(FATAL_ERROR "no GLIBC_ symbol version in ${CPACK_ANYKEY_BINARY}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= ${newest})")
