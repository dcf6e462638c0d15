# Runs one scenario script through veldrix-headless in a fresh work folder and
# compares its transcript with NAME.expected beside the script.
get_filename_component(dir ${SCRIPT} DIRECTORY)
get_filename_component(name ${SCRIPT} NAME_WE)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
if(EXISTS ${dir}/data)
    file(COPY ${dir}/data DESTINATION ${WORK_DIR})
endif()
execute_process(
    COMMAND ${HEADLESS} --install-dir ${SOURCE_DIR}/resources ${SCRIPT}
    WORKING_DIRECTORY ${WORK_DIR}
    OUTPUT_VARIABLE out
    RESULT_VARIABLE status)
file(WRITE ${WORK_DIR}/transcript.txt "${out}")
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${name}: exit status ${status}\n${out}")
endif()
if(EXISTS ${dir}/${name}.expected)
    file(READ ${dir}/${name}.expected expected)
    if(NOT out STREQUAL expected)
        execute_process(COMMAND diff -u ${dir}/${name}.expected ${WORK_DIR}/transcript.txt OUTPUT_VARIABLE d)
        message(FATAL_ERROR "${name}: transcript differs from ${name}.expected\n${d}")
    endif()
endif()
