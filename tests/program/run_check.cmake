# Runs a check program and compares its exit status and its whole output.
#   cmake -DCOMMAND=a|b|c -DEXIT=N -DOUTPUT=line|line|... -P run_check.cmake
# COMMAND's words and OUTPUT's lines are separated by "|"; the output must be
# exactly those lines, each ended by a line feed (carriage returns dropped).
string(REPLACE "|" ";" command "${COMMAND}")
execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE err TIMEOUT 60)
string(REPLACE "\r" "" out "${out}")
string(REPLACE "|" "\n" expected "${OUTPUT}\n")
message("${out}${err}")
set(failed FALSE)
if(NOT "${status}" STREQUAL "${EXIT}")
  message("check: exit status ${status}, expected ${EXIT}")
  set(failed TRUE)
endif()
if(NOT out STREQUAL expected)
  message("check: the output should have been:\n${expected}")
  set(failed TRUE)
endif()
if(failed)
  message(FATAL_ERROR "check: failed")
endif()
