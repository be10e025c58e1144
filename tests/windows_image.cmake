# Inspects a Windows image: cmake -DEXE= -DMAP= -DOBJDUMP= -DFORMAT= -DMAX_SIZE= -P
cmake_minimum_required(VERSION 3.25)
set(failures "")
# Each check is a condition written as CMake code, and what failing it means.
function(expect condition message)
  cmake_language(EVAL CODE "
    if(NOT (${condition}))
      list(APPEND failures \"${message}\")
      set(failures \"\${failures}\" PARENT_SCOPE)
    endif()")
endfunction()

# The headers and the import table are read from the image's own bytes: the
# format is fixed, a tool's printout of it is not.
file(READ ${EXE} image HEX)
string(LENGTH "${image}" image_length)
math(EXPR image_length "${image_length} / 2")

# The unsigned little-endian field of SIZE bytes at file offset AT.
function(field out at size)
  math(EXPR end "${at} + ${size}")
  if(at LESS 0 OR end GREATER image_length)
    message(FATAL_ERROR "${EXE}: a field at ${at} lies outside the image's ${image_length} bytes")
  endif()
  math(EXPR start "${at} * 2")
  set(value "")
  foreach(i RANGE 1 ${size})
    string(SUBSTRING "${image}" ${start} 2 byte)
    string(PREPEND value ${byte})
    math(EXPR start "${start} + 2")
  endforeach()
  math(EXPR value "0x${value}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# Fields at offsets from file offset BASE, given as NAME OFFSET SIZE ...
function(fields base)
  while(ARGN)
    list(POP_FRONT ARGN name at size)
    math(EXPR at "${base} + ${at}")
    field(value ${at} ${size})
    set(${name} ${value} PARENT_SCOPE)
  endwhile()
endfunction()

# The zero-terminated text at file offset AT.
function(text out at)
  set(value "")
  field(byte ${at} 1)
  while(NOT byte EQUAL 0)
    string(ASCII ${byte} char)
    string(APPEND value "${char}")
    math(EXPR at "${at} + 1")
    field(byte ${at} 1)
  endwhile()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

field(pe 0x3c 4)
field(signature ${pe} 4)
expect("signature EQUAL 0x4550" "no PE signature")
math(EXPR coff "${pe} + 4")
fields(${coff} machine 0 2 section_count 2 2 optional_size 16 2 characteristics 18 2)
math(EXPR optional "${coff} + 20")
fields(${optional} magic 0 2 entry 16 4 subsystem 68 2)
if(FORMAT STREQUAL "pei-i386")
  set(pointer 4)
  expect("machine EQUAL 0x14c AND magic EQUAL 0x10b" "not a 32-bit x86 image")
  fields(${optional} base 28 4)
  math(EXPR directories "${optional} + 96")
else()
  set(pointer 8)
  expect("machine EQUAL 0x8664 AND magic EQUAL 0x20b" "not a 64-bit x86 image")
  fields(${optional} base 24 8)
  math(EXPR directories "${optional} + 112")
endif()
expect("subsystem EQUAL 3" "not a console program")

# The entry point is ProgramEntry itself (its address from the link map).
math(EXPR entry "${base} + ${entry}" OUTPUT_FORMAT HEXADECIMAL)
file(READ ${MAP} map)
string(REGEX MATCH "0x0*([0-9a-f]+)[ \t]+_?ProgramEntry\n" _ "${map}")
math(EXPR program_entry "0x${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
expect("entry STREQUAL program_entry" "entry point ${entry} is not ProgramEntry (${program_entry})")

# The data directories that matter here: each one's address and size.
foreach(row "1;import" "3;exception" "5;relocation" "9;tls" "12;iat")
  list(GET row 0 index)
  list(GET row 1 name)
  math(EXPR at "${directories} + 8 * ${index}")
  fields(${at} ${name}_rva 0 4 ${name}_size 4 4)
endforeach()

# No TLS, no exception tables, no relocations.
foreach(directory exception relocation tls)
  expect("${directory}_rva EQUAL 0 AND ${directory}_size EQUAL 0" "the image has a ${directory} directory")
endforeach()
math(EXPR stripped "${characteristics} & 1")
expect("stripped EQUAL 1" "the image can be relocated")

# No sections but code and imports, and none both writable and executable.
math(EXPR table "${optional} + ${optional_size}")
set(sections "")
set(section_rows "")
foreach(i RANGE 1 ${section_count})
  math(EXPR at "${table} + 40 * (${i} - 1)")
  text(name ${at})
  string(SUBSTRING "${name}" 0 8 name)
  fields(${at} address 12 4 raw_size 16 4 raw_at 20 4 flags 36 4)
  list(APPEND sections ${name})
  list(APPEND section_rows "${address},${raw_size},${raw_at}")
  math(EXPR code "${flags} & 0x20000020")
  math(EXPR writable "${flags} & 0x80000000")
  expect("code EQUAL 0 OR writable EQUAL 0" "section ${name} is writable and executable")
endforeach()
list(JOIN sections " " sections)
expect("sections STREQUAL \".text\"" "sections are: ${sections}")

# The file offset of an address in the image.
function(offset out rva)
  foreach(row IN LISTS section_rows)
    string(REPLACE "," ";" row "${row}")
    list(GET row 0 address)
    list(GET row 1 raw_size)
    list(GET row 2 raw_at)
    math(EXPR end "${address} + ${raw_size}")
    if(rva GREATER_EQUAL address AND rva LESS end)
      math(EXPR value "${rva} - ${address} + ${raw_at}")
      set(${out} ${value} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "${EXE}: address ${rva} is in no section's bytes")
endfunction()

# Exactly six imports, by name: five from kernel32.dll, _kbhit from
# msvcrt.dll. The import directory holds exactly the descriptors, the null
# one included, and the address table directory exactly the address table
# (each library's entries and its null entry); every descriptor has its
# lookup table.
set(imports "")
set(libraries 0)
set(first_thunk "")
offset(descriptor ${import_rva})
while(TRUE)
  fields(${descriptor} lookup 0 4 name_rva 12 4 thunk 16 4)
  if(name_rva EQUAL 0)
    break()
  endif()
  math(EXPR libraries "${libraries} + 1")
  expect("NOT lookup EQUAL 0" "library ${libraries} has no lookup table")
  if(first_thunk STREQUAL "")
    set(first_thunk ${thunk})
  endif()
  offset(at ${name_rva})
  text(library ${at})
  list(APPEND imports "${library}:")
  offset(entry_at ${lookup})
  while(TRUE)
    # An entry's top bit marks an import by number, in its low 16 bits.
    math(EXPR high "${entry_at} + ${pointer} - 4")
    field(low ${entry_at} 4)
    field(high ${high} 4)
    if(low EQUAL 0 AND high EQUAL 0)
      break()
    elseif(high GREATER_EQUAL 0x80000000)
      math(EXPR number "${low} & 0xffff")
      list(APPEND imports "#${number}")
    else()
      offset(at ${low})
      math(EXPR at "${at} + 2")  # past the hint
      text(function ${at})
      list(APPEND imports ${function})
    endif()
    math(EXPR entry_at "${entry_at} + ${pointer}")
  endwhile()
  math(EXPR descriptor "${descriptor} + 20")
endwhile()
list(JOIN imports " " imports)
expect("imports STREQUAL \"KERNEL32.dll: ExitProcess FlushConsoleInputBuffer GetStdHandle Sleep WriteFile msvcrt.dll: _kbhit\""
  "imports are: ${imports}")
math(EXPR descriptors_size "(${libraries} + 1) * 20")
expect("import_size EQUAL descriptors_size"
  "the import directory is ${import_size} bytes, the descriptors ${descriptors_size}")
math(EXPR thunks_size "(6 + ${libraries}) * ${pointer}")
expect("iat_rva EQUAL first_thunk AND iat_size EQUAL thunks_size"
  "the address table directory is ${iat_size} bytes at ${iat_rva}, the table ${thunks_size} at ${first_thunk}")

# The length scan runs in the image, four bytes a step, not folded away.
execute_process(COMMAND ${OBJDUMP} -d ${EXE} OUTPUT_VARIABLE code)
expect("code MATCHES \"and +\\\\$0x80808080\"" "the length scan's loop is not in the image")

# The message block: the prompt and the line break, each with its terminator.
string(HEX "Press any key to end polling" prompt)
expect("image MATCHES \"${prompt}000d0a00\"" "the message block is not in the image")

file(SIZE ${EXE} size)
expect("size LESS_EQUAL MAX_SIZE" "the image is ${size} bytes, more than ${MAX_SIZE}")

if(failures)
  list(JOIN failures "\n  " failures)
  message(FATAL_ERROR "${EXE}:\n  ${failures}")
endif()
message(STATUS "${EXE}: ${FORMAT}, entry ${entry}, ${size} bytes, imports ${imports}")
