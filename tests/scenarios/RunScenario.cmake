# Runs one scenario script through veldrix-headless in a fresh work folder and
# compares its transcript with NAME.expected beside the script. With
# VARY_ALL, the simulated unit makes every open choice differently from
# before the first search on; then only the script's own expectations must
# hold, as the texts in between may differ.
get_filename_component(dir ${SCRIPT} DIRECTORY)
get_filename_component(name ${SCRIPT} NAME_WE)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
if(EXISTS ${dir}/data)
    file(COPY ${dir}/data DESTINATION ${WORK_DIR})
endif()
set(run_script ${SCRIPT})
if(VARY_ALL)
    file(READ ${SCRIPT} text)
    string(REGEX MATCH "(^|\n)start[ \t\r]*\n" found "${text}")
    if(found)
        string(REGEX REPLACE "(^|\n)start([ \t\r]*\n)" "\\1sim vary all\nstart\\2" text "${text}")
    else()
        set(text "sim vary all\n${text}")
    endif()
    set(run_script ${WORK_DIR}/${name}.varied.vdx)
    file(WRITE ${run_script} "${text}")
endif()
execute_process(
    COMMAND ${HEADLESS} --install-dir ${SOURCE_DIR}/resources ${run_script}
    WORKING_DIRECTORY ${WORK_DIR}
    OUTPUT_VARIABLE out
    RESULT_VARIABLE status)
file(WRITE ${WORK_DIR}/transcript.txt "${out}")
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${name}: exit status ${status}\n${out}")
endif()
if(NOT VARY_ALL AND EXISTS ${dir}/${name}.expected)
    file(READ ${dir}/${name}.expected expected)
    if(NOT out STREQUAL expected)
        execute_process(COMMAND diff -u ${dir}/${name}.expected ${WORK_DIR}/transcript.txt OUTPUT_VARIABLE d)
        message(FATAL_ERROR "${name}: transcript differs from ${name}.expected\n${d}")
    endif()
endif()
