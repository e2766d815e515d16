# Runs klt-decode (through EMULATOR, a list, possibly empty) on every sample stream in
# SAMPLES three ways and compares each result with the .txt beside the stream.
file(GLOB streams "${SAMPLES}/*.prn")
if(NOT streams)
    message(FATAL_ERROR "no sample streams in ${SAMPLES}")
endif()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
foreach(stream IN LISTS streams)
    get_filename_component(name "${stream}" NAME_WE)
    get_filename_component(folder "${stream}" DIRECTORY)
    set(expected "${folder}/${name}.txt")

    execute_process(COMMAND ${EMULATOR} ${KLT_DECODE} ${stream} ${WORK}/${name}-file.txt
        RESULT_VARIABLE status)
    execute_process(COMMAND ${EMULATOR} ${KLT_DECODE} - ${WORK}/${name}-stdin.txt
        INPUT_FILE ${stream} RESULT_VARIABLE stdinStatus)
    execute_process(COMMAND ${EMULATOR} ${KLT_DECODE} ${stream}
        OUTPUT_FILE ${WORK}/${name}-stdout.txt RESULT_VARIABLE stdoutStatus)
    if(NOT status EQUAL 0 OR NOT stdinStatus EQUAL 0 OR NOT stdoutStatus EQUAL 0)
        message(FATAL_ERROR "${name}: klt-decode failed (${status}, ${stdinStatus}, ${stdoutStatus})")
    endif()
    foreach(way file stdin stdout)
        execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
            ${WORK}/${name}-${way}.txt ${expected} RESULT_VARIABLE differs)
        if(NOT differs EQUAL 0)
            message(FATAL_ERROR "${name} (${way}): the result differs from ${expected}")
        endif()
    endforeach()
    message(STATUS "${name}: equal to ${name}.txt three ways")
endforeach()
