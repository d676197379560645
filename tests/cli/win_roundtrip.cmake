# Under Wine: the WAV written to standard output must equal the one written
# to a file (no text-mode line endings), and must decode.
# Inputs: CLI, EMULATOR, WORK.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(run expect_out)
  execute_process(COMMAND ${EMULATOR} ${CLI} ${ARGN}
                  WORKING_DIRECTORY ${WORK}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "tessary-cli ${ARGN}: status ${rc}: ${err}")
  endif()
  if(NOT expect_out STREQUAL "" AND NOT out STREQUAL expect_out)
    message(FATAL_ERROR "tessary-cli ${ARGN}: printed '${out}', expected '${expect_out}'")
  endif()
endfunction()

run("" encode text "Hello World" --speed 150 -o file.wav)
execute_process(COMMAND ${EMULATOR} ${CLI} encode text "Hello World" --speed 150 -o -
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_FILE ${WORK}/piped.wav)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "encode to standard output: status ${rc}")
endif()
file(SHA256 ${WORK}/file.wav a)
file(SHA256 ${WORK}/piped.wav b)
if(NOT a STREQUAL b)
  message(FATAL_ERROR "the WAV on standard output differs from the one written to a file")
endif()
run("hello world\n" decode piped.wav)
execute_process(COMMAND ${EMULATOR} ${CLI} decode piped.wav --threshold 0.9
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(NOT rc EQUAL 2)
  message(FATAL_ERROR "a threshold out of range gave status ${rc}, not 2")
endif()

# serve runs a directory's command through cmd with the message on its
# standard input, and ends a command past its time with all it started.
run("" encode request --dir 0123 "hi" -o ask.wav)
foreach(case "set /p m=& call echo you said %m%|answered. answer .you said hi"
             "ping -n 30 127.0.0.1|no answer in 1 s, stopped. answer .no answer in time")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 command)
  list(GET case 1 expect)
  string(TIMESTAMP t0 "%s")
  execute_process(COMMAND ${EMULATOR} ${CLI} serve --dir "0123=${command}" --timeout 1
                          --in ask.wav --out answer.wav
                  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc ERROR_VARIABLE err)
  string(TIMESTAMP t1 "%s")
  math(EXPR took "${t1} - ${t0}")
  if(NOT rc EQUAL 0 OR NOT err MATCHES "dir 0123 .hi.: ${expect}" OR took GREATER 15)
    message(FATAL_ERROR "serve --dir '0123=${command}': status ${rc} after ${took} s: ${err}")
  endif()
endforeach()
