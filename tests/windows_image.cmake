# Inspects a Windows image: cmake -DEXE= -DMAP= -DOBJDUMP= -DFORMAT= -DMAX_SIZE= -P
set(failures "")
# Each check is a condition written as CMake code, and what failing it means.
function(expect condition message)
  cmake_language(EVAL CODE "
    if(NOT (${condition}))
      list(APPEND failures \"${message}\")
      set(failures \"\${failures}\" PARENT_SCOPE)
    endif()")
endfunction()

execute_process(COMMAND ${OBJDUMP} -x ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
expect("status EQUAL 0" "objdump could not read ${EXE}")

expect("dump MATCHES \"file format ${FORMAT}\n\"" "not a ${FORMAT} image")
expect("dump MATCHES \"Subsystem[ \t]+00000003\"" "not a console program")

# The entry point is ProgramEntry itself (its address from the link map).
string(REGEX MATCH "ImageBase[ \t]+([0-9a-f]+)" _ "${dump}")
math(EXPR base "0x${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
string(REGEX MATCH "AddressOfEntryPoint[ \t]+([0-9a-f]+)" _ "${dump}")
math(EXPR entry "${base} + 0x${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
file(READ ${MAP} map)
string(REGEX MATCH "0x0*([0-9a-f]+)[ \t]+_?ProgramEntry\n" _ "${map}")
math(EXPR program_entry "0x${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
expect("entry STREQUAL program_entry" "entry point ${entry} is not ProgramEntry (${program_entry})")

# Exactly six imports: five from kernel32.dll, _kbhit from msvcrt.dll.
string(REGEX MATCHALL "DLL Name: [^\n]+|\n\t[0-9a-f]+\t +[0-9]+ +[^\n]+" imports "${dump}")
list(TRANSFORM imports REPLACE "^\n\t[0-9a-f]+\t +[0-9]+ +" "")
string(JOIN " " imports ${imports})
expect("imports STREQUAL \"DLL Name: KERNEL32.dll ExitProcess FlushConsoleInputBuffer GetStdHandle Sleep WriteFile DLL Name: msvcrt.dll _kbhit\""
  "imports are: ${imports}")

# No TLS, no exception tables, no relocations, and no sections but code and imports.
foreach(directory "Exception Directory" "Base Relocation Directory" "Thread Storage Directory")
  expect("dump MATCHES \"Entry [0-9a-f] 0+ 0+ ${directory}\"" "the image has a ${directory}")
endforeach()
expect("dump MATCHES \"relocations stripped\"" "the image can be relocated")
string(REGEX MATCHALL "\n +[0-9]+ (\\.[a-z]+) " sections "${dump}")
list(TRANSFORM sections REPLACE "\n +[0-9]+ (\\.[a-z]+) " "\\1")
list(JOIN sections " " sections)
expect("sections STREQUAL \".text\"" "sections are: ${sections}")

# No section both writable and executable: objdump marks every section that
# is not writable READONLY.
string(REGEX MATCHALL "\n +CONTENTS[^\n]+" flags "${dump}")
foreach(line IN LISTS flags)
  expect("NOT line MATCHES \"CODE\" OR line MATCHES \"READONLY\"" "a section is writable and executable:${line}")
endforeach()

# The import directory holds exactly the descriptors, the null one included,
# and the address table directory exactly the address table (each library's
# entries and its null entry); every descriptor has its lookup table.
if(FORMAT STREQUAL "pei-i386")
  set(pointer 4)
else()
  set(pointer 8)
endif()
string(REGEX MATCHALL "\n [0-9a-f]+\t[0-9a-f]+ [0-9a-f]+ [0-9a-f]+ [0-9a-f]+ [0-9a-f]+" descriptors "${dump}")
list(REMOVE_DUPLICATES descriptors)
set(libraries 0)
set(first_thunk "")
foreach(descriptor IN LISTS descriptors)
  string(REGEX MATCH "([0-9a-f]+)\t([0-9a-f]+) [0-9a-f]+ [0-9a-f]+ ([0-9a-f]+) ([0-9a-f]+)" _ "${descriptor}")
  set(at ${CMAKE_MATCH_1})
  set(lookup ${CMAKE_MATCH_2})
  set(name ${CMAKE_MATCH_3})
  set(thunk ${CMAKE_MATCH_4})
  if(NOT name MATCHES "^0+$")
    math(EXPR libraries "${libraries} + 1")
    expect("NOT lookup MATCHES \"^0+$\"" "the descriptor at ${at} has no lookup table")
    if(first_thunk STREQUAL "")
      set(first_thunk ${thunk})
    endif()
  endif()
endforeach()
list(GET descriptors 0 first)
string(REGEX MATCH "\n ([0-9a-f]+)" _ "${first}")
set(import_table ${CMAKE_MATCH_1})
string(REGEX MATCH "Entry 1 0*([0-9a-f]+) ([0-9a-f]+) Import Directory" _ "${dump}")
math(EXPR directory_start "0x${CMAKE_MATCH_1}")
math(EXPR directory_size "0x${CMAKE_MATCH_2}")
math(EXPR table_start "0x${import_table}")
math(EXPR descriptors_size "(${libraries} + 1) * 20")
expect("directory_start EQUAL table_start AND directory_size EQUAL descriptors_size"
  "the import directory is ${directory_size} bytes at ${directory_start}, the descriptors ${descriptors_size} at ${table_start}")
string(REGEX MATCH "Entry c 0*([0-9a-f]+) ([0-9a-f]+) Import Address Table" _ "${dump}")
math(EXPR iat_start "0x${CMAKE_MATCH_1}")
math(EXPR iat_size "0x${CMAKE_MATCH_2}")
math(EXPR thunk_start "0x${first_thunk}")
math(EXPR thunks_size "(6 + ${libraries}) * ${pointer}")
expect("iat_start EQUAL thunk_start AND iat_size EQUAL thunks_size"
  "the address table directory is ${iat_size} bytes at ${iat_start}, the table ${thunks_size} at ${thunk_start}")

# The length scan runs in the image, four bytes a step, not folded away.
execute_process(COMMAND ${OBJDUMP} -d ${EXE} OUTPUT_VARIABLE code)
expect("code MATCHES \"and +\\\\$0x80808080\"" "the length scan's loop is not in the image")

# The message block: the prompt and the line break, each with its terminator.
file(READ ${EXE} image HEX)
string(HEX "Press any key to end polling" prompt)
expect("image MATCHES \"${prompt}000d0a00\"" "the message block is not in the image")

file(SIZE ${EXE} size)
expect("size LESS_EQUAL MAX_SIZE" "the image is ${size} bytes, more than ${MAX_SIZE}")

if(failures)
  list(JOIN failures "\n  " failures)
  message(FATAL_ERROR "${EXE}:\n  ${failures}")
endif()
message(STATUS "${EXE}: ${FORMAT}, entry ${entry}, ${size} bytes, imports ${imports}")
