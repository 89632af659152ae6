# Runs one row of the end-to-end table and checks its outcome.
#   cmake -DCOMMAND=a|b|c -DEXIT=N [-DOUTPUT=regex|regex] [-DABSENT=regex|regex]
#         [-DSCENARIO=file -DSCENARIO_COPY=file [-DRECKON=machine -DAWK=awk
#          -DSCAN_READS=tools/scan-reads.awk] [-DNEED_READS=1]] -P run_row.cmake
# COMMAND and the regular expressions are separated by "|". Every OUTPUT
# expression must match the combined output, no ABSENT expression may.
# With SCENARIO the command runs SCENARIO_COPY, the scenario with each
# @name@ replaced by the count that the scan rules give for RECKON (see
# tools/scan-reads.awk: @start-up@, @set-mode@, ...). NEED_READS: the
# scenario must check reads (an expect-reads step).
if(DEFINED SCENARIO)
  file(READ "${SCENARIO}" text)
  if(DEFINED RECKON AND NOT RECKON STREQUAL "")
    execute_process(COMMAND "${AWK}" -f "${SCAN_READS}" "${RECKON}" RESULT_VARIABLE status
                    OUTPUT_VARIABLE counts ERROR_VARIABLE err)
    if(NOT status EQUAL 0 OR NOT counts MATCHES "start-up [0-9]+")
      message(FATAL_ERROR "e2e: the scan rules gave nothing for ${RECKON}: ${err}")
    endif()
    string(REGEX MATCHALL "[^\n]+" lines "${counts}")
    foreach(line IN LISTS lines)
      if(line MATCHES "^([a-z-]+) (.+)$")
        set(n_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
        string(REPLACE "@${CMAKE_MATCH_1}@" "${CMAKE_MATCH_2}" text "${text}")
      endif()
    endforeach()
    get_filename_component(machine "${RECKON}" NAME)
    message("e2e: reads by the scan rules on ${machine} (${n_outcome}): start-up ${n_start-up} = "
            "chipset read ${n_chipset-read} + adapter read ${n_adapter-read} + "
            "family test ${n_family-test} + refresh ${n_refresh}; each Set Mode ${n_set-mode}")
  endif()
  if(text MATCHES "@[a-z][a-z-]*@")
    if(NOT RECKON)
      message(FATAL_ERROR "e2e: ${SCENARIO}: ${CMAKE_MATCH_0}, but the row names no machine to reckon")
    endif()
    message(FATAL_ERROR "e2e: ${SCENARIO}: the scan rules give no count ${CMAKE_MATCH_0}")
  endif()
  if(NEED_READS AND NOT text MATCHES "(^|\n)[ \t]*expect-reads ")
    message(FATAL_ERROR "e2e: ${SCENARIO} checks no reads (expect-reads)")
  endif()
  file(WRITE "${SCENARIO_COPY}" "${text}")
endif()

string(REPLACE "|" ";" command "${COMMAND}")
execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE err TIMEOUT 170)
set(all "${out}${err}")
message("${all}")
set(failed FALSE)
if(NOT "${status}" STREQUAL "${EXIT}")
  message("e2e: exit status ${status}, expected ${EXIT}")
  set(failed TRUE)
endif()
if(DEFINED OUTPUT AND NOT OUTPUT STREQUAL "")
  string(REPLACE "|" ";" patterns "${OUTPUT}")
  foreach(p IN LISTS patterns)
    if(NOT all MATCHES "${p}")
      message("e2e: output lacks: ${p}")
      set(failed TRUE)
    endif()
  endforeach()
endif()
if(DEFINED ABSENT AND NOT ABSENT STREQUAL "")
  string(REPLACE "|" ";" patterns "${ABSENT}")
  foreach(p IN LISTS patterns)
    if(all MATCHES "${p}")
      message("e2e: output should not hold: ${p}")
      set(failed TRUE)
    endif()
  endforeach()
endif()
if(failed)
  message(FATAL_ERROR "e2e: row failed")
endif()
