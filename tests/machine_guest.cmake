# What the loader's machine and the ARM machines share once they are made: a
# boot under qemu, and the verdicts their guests write on the serial console.

# Boots qemu (the emulator and its machine's options in ARGN) with KERNEL,
# INITRD and the kernel's command line APPEND, and waits for it to power off;
# its console goes to this step's output as it comes, and to CONSOLE.
function(machine_boot console timeout kernel initrd append)
  # panic=-1: a panic restarts the machine, which -no-reboot turns into the
  # end of qemu, rather than a wait for the time limit.
  execute_process(
    COMMAND ${ARGN} -nographic -no-reboot -nic none -monitor none -serial stdio
      -kernel ${kernel} -initrd ${initrd} -append "quiet panic=-1 ${append}"
    COMMAND tee ${console}
    INPUT_FILE /dev/null RESULTS_VARIABLE status TIMEOUT ${timeout})
  if(NOT status STREQUAL "0;0")
    message(FATAL_ERROR "qemu: ${status} (the machine has ${timeout} s to power off)")
  endif()
endfunction()

# Fails unless the verdict lines in CONSOLE ("PASS name: ..." or "FAIL name:
# what went wrong") are all PASS, and as many as the lines "cases N" before
# each group announce.
function(machine_verdicts console)
  file(READ ${console} text)
  # The verdicts' own semicolons kept aside, where a list would split them;
  # each line between newlines of its own, so that two matches share none.
  string(REPLACE ";" "%SEMICOLON%" text "\n${text}\n")
  string(REGEX REPLACE "\r*\n" "\n\n" text "${text}")
  string(REGEX MATCHALL "\ncases [0-9]+\n" groups "${text}")
  string(REGEX MATCHALL "\n(PASS|FAIL) " verdicts "${text}")
  string(REGEX MATCHALL "\nFAIL [^\n]*" faults "${text}")
  string(REPLACE ";" "" faults "${faults}")
  string(REGEX REPLACE "[^0-9;]" "" groups "${groups}")
  string(JOIN "+" announced 0 ${groups})
  math(EXPR announced "${announced}")
  list(LENGTH verdicts count)
  if(announced EQUAL 0)
    string(APPEND faults "\nthe machine wrote no verdicts (its console is above)")
  elseif(NOT count EQUAL announced)
    string(APPEND faults "\n${count} verdicts, not ${announced}")
  endif()
  if(faults)
    string(REPLACE "%SEMICOLON%" ";" faults "${faults}")
    message(FATAL_ERROR "${faults}")
  endif()
endfunction()
