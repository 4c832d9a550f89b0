# SPDX-License-Identifier: Apache-2.0
# kestrawin_add_cli_transcripts(<command>...): every transcript in
# tests/cli/transcripts as the test "cli.Transcript.<name>", run by
# run-transcript.py against the program that <command>... starts (its path,
# or a wrapper and the path). The system's own words for an error are the
# platform's: $NO_SUCH_FILE in a transcript stands for them (Wine's on Windows).
find_package(Python3 REQUIRED COMPONENTS Interpreter)

function(kestrawin_add_cli_transcripts)
  if(WIN32)
    set(no_such_file "File not found")
  else()
    set(no_such_file "No such file or directory")
  endif()
  file(GLOB transcripts CONFIGURE_DEPENDS ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/transcripts/*.txt)
  foreach(transcript ${transcripts})
    get_filename_component(name ${transcript} NAME_WE)
    add_test(NAME cli.Transcript.${name}
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/run-transcript.py
                     --set VERSION=${PROJECT_VERSION} "--set=NO_SUCH_FILE=${no_such_file}"
                     ${transcript} ${ARGN})
    set_tests_properties(cli.Transcript.${name} PROPERTIES LABELS cli)
  endforeach()
endfunction()
