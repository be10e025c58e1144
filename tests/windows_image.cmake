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
expect("sections STREQUAL \".text .idata\"" "sections are: ${sections}")

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
