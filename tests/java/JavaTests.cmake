# JUnit 5 tests that load the real library in a real JVM with -Xcheck:jni.
set(MERO_JUNIT_JAR /usr/share/java/junit-platform-console-standalone.jar)
if(NOT EXISTS ${MERO_JUNIT_JAR})
  message(FATAL_ERROR "JUnit 5 console launcher not found: apt-get install junit5")
endif()
file(GLOB_RECURSE MERO_JAVA_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.java)
set(MERO_JAVA_TEST_CLASSES ${CMAKE_BINARY_DIR}/java-test-classes)
add_custom_command(
  OUTPUT ${MERO_JAVA_TEST_CLASSES}/.stamp
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${MERO_JAVA_TEST_CLASSES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MERO_JAVA_TEST_CLASSES}
  COMMAND ${Java_JAVAC_EXECUTABLE} --release 17 -encoding UTF-8 -Xlint:all,-processing -d ${MERO_JAVA_TEST_CLASSES}
          -cp ${MERO_JAR}:${MERO_JUNIT_JAR} ${MERO_JAVA_TEST_SOURCES}
  COMMAND ${CMAKE_COMMAND} -E touch ${MERO_JAVA_TEST_CLASSES}/.stamp
  DEPENDS ${MERO_JAVA_TEST_SOURCES} ${MERO_JAR}
  COMMENT "Compiling the Java tests"
  VERBATIM)
add_custom_target(mero_java_tests ALL DEPENDS ${MERO_JAVA_TEST_CLASSES}/.stamp)
# The jar is made in the top directory: a file dependency alone does not order
# the two targets under the Makefile generator.
add_dependencies(mero_java_tests mero_jar)

# Runs the JUnit classes whose names match PATTERN (a regex) in one JVM.
function(mero_add_junit_test name pattern)
  add_test(NAME ${name}
    COMMAND ${CMAKE_SOURCE_DIR}/tests/support/run_junit.sh ${Java_JAVA_EXECUTABLE} ${MERO_JUNIT_JAR}
            ${MERO_JAR}:${MERO_JAVA_TEST_CLASSES} ${pattern})
  set_tests_properties(${name} PROPERTIES LABELS java
    ENVIRONMENT "MERO_TEST_TMP=${CMAKE_BINARY_DIR}/test-tmp;MERO_SCENARIOS=${CMAKE_SOURCE_DIR}/tests/scenarios")
endfunction()

mero_add_junit_test(java_interface "^(ScenarioTest|LoaderTest|ShortenedDataFileTest)$")
mero_add_junit_test(java_api "^org\\.mero\\.db\\..*Test$")

# Reliability: a child JVM killed at random moments (it loads the library
# from build/), and Java threads through the native layer.
function(mero_add_reliability_junit name pattern labels timeout)
  mero_add_junit_test(${name} "${pattern}")
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "MERO_NATIVE_DIR=$<TARGET_FILE_DIR:MERO_Database>" ${ARGN})
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT ${timeout})
endfunction()
mero_add_reliability_junit(java_crash_kills "^CrashKillTest$" "java;reliability" 300 "MERO_CRASH_KILLS=100")
mero_add_reliability_junit(java_crash_kills_long "^CrashKillTest$" "java;reliability;long" 3600
  "MERO_CRASH_KILLS=2000")
mero_add_reliability_junit(java_crash_kills_large_long "^CrashKillTest$" "java;reliability;long" 3600
  "MERO_CRASH_KILLS=100" "MERO_CRASH_NOTE_BYTES=4000000")
mero_add_reliability_junit(java_batch_kills "^BatchKillTest$" "java;reliability" 300 "MERO_CRASH_KILLS=100")
mero_add_reliability_junit(java_batch_kills_long "^BatchKillTest$" "java;reliability;long" 3600 "MERO_CRASH_KILLS=1000")
mero_add_reliability_junit(java_threads "^ThreadsTest$" "java;reliability" 300)
mero_add_reliability_junit(java_threads_long "^ThreadsTest$" "java;reliability;long" 3600 "MERO_THREAD_OPS=50000")

# The module jar on the module path, and `mvn install` of pom.xml offline.
foreach(_mode module maven)
  add_test(NAME java_${_mode}_jar
    COMMAND ${CMAKE_SOURCE_DIR}/tests/java/module_and_maven.sh ${_mode} ${CMAKE_BINARY_DIR}
            ${CMAKE_BINARY_DIR}/test-tmp/${_mode}-jar)
  set_tests_properties(java_${_mode}_jar PROPERTIES LABELS java TIMEOUT 300)
endforeach()
