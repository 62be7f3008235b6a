# Writes a tool's man page from its own --help and --version with help2man,
# so the page never says other than the program does. Run as a script:
#   cmake -DPROGRAM=... -DOUTPUT=... -DVERSION=... [-DEMULATOR=...] -P ManPage.cmake
# EMULATOR (a list: qemu-aarch64 ...) runs a cross-built program.
foreach(variable PROGRAM OUTPUT VERSION)
  if(NOT ${variable})
    message(FATAL_ERROR "ManPage.cmake needs -D${variable}=...")
  endif()
endforeach()
get_filename_component(tool ${PROGRAM} NAME)
get_filename_component(output_dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${output_dir})

execute_process(COMMAND ${EMULATOR} ${PROGRAM} --help
                OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${tool} --help failed (${status}): no man page")
endif()
# The NAME line is the help's first sentence, up to its first colon or full
# stop ("Sends a Wendle message to a serial display: ...").
string(REGEX MATCH "^[^\n]*" name "${help}")
string(REGEX REPLACE "(: |\\. |\\.$).*" "" name "${name}")
string(SUBSTRING "${name}" 0 1 first)
string(SUBSTRING "${name}" 1 -1 rest)
string(TOLOWER "${first}" first)
set(name "${first}${rest}")

# help2man runs the program by name, so a cross-built one goes behind a
# wrapper of the same name that starts it in the emulator.
set(run ${PROGRAM})
if(EMULATOR)
  set(run ${output_dir}/run/${tool})
  list(JOIN EMULATOR " " emulator_line)
  file(WRITE ${run}.tmp "#!/bin/sh\nexec ${emulator_line} ${PROGRAM} \"$@\"\n")
  file(COPY_FILE ${run}.tmp ${run})
  file(CHMOD ${run} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
  file(REMOVE ${run}.tmp)
endif()

execute_process(
  COMMAND help2man --no-info --section=1 --name=${name} --source=Wendle
          --manual=Wendle --version-string=${VERSION} --output=${OUTPUT} ${run}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${tool} (${status})")
endif()
