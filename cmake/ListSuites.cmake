# Writes OUTPUT, a CTest file registering each GoogleTest suite of EXECUTABLE as a test of its own: PREFIX.<suite>,
# running only that suite, with LABELS and TIMEOUT. Run after each build of the executable (quorvane_register_suites).
# LABELS separates the labels with commas. The executable is listed offscreen: the widget tests' main makes a QApplication before anything else.

# Executing a program just linked can fail with "Text file busy" for a moment: a process forked elsewhere on the
# machine while the linker's descriptor was open holds a copy of it until it execs. That passes; a few tries.
foreach(attempt RANGE 1 5)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${EXECUTABLE} --gtest_list_tests
        OUTPUT_VARIABLE listing
        ERROR_VARIABLE errors
        RESULT_VARIABLE result)
    if(result EQUAL 0 OR NOT errors MATCHES "Text file busy")
        break()
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 0.5)
endforeach()
if(NOT result EQUAL 0)
    message(FATAL_ERROR "Listing the tests of ${EXECUTABLE} failed (${result}):\n${errors}")
endif()

# A suite's line starts at the margin and ends with a dot, before an optional comment ("Typed/0.  # TypeParam =
# int"); its tests' lines are indented.
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "," ";" LABELS "${LABELS}")
string(REPLACE "\n" ";" lines "${listing}")
set(content "")
set(count 0)
foreach(line IN LISTS lines)
    if(line MATCHES "^([^ #][^ ]*)\\.( .*)?$")
        set(suite ${CMAKE_MATCH_1})
        set(test "${PREFIX}.${suite}")
        string(APPEND content
            "add_test([==[${test}]==] [==[${EXECUTABLE}]==] [==[--gtest_filter=${suite}.*]==])\n"
            "set_tests_properties([==[${test}]==] PROPERTIES LABELS [==[${LABELS}]==] TIMEOUT ${TIMEOUT})\n")
        math(EXPR count "${count} + 1")
    endif()
endforeach()
if(count EQUAL 0)
    message(FATAL_ERROR "${EXECUTABLE} lists no test suite")
endif()
file(WRITE ${OUTPUT} "${content}")
