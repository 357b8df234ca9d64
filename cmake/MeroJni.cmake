# Finds jni.h in the JDK named by JAVA_HOME or, when it is unset, in the JDK
# that the javac on PATH belongs to.
if(NOT DEFINED ENV{JAVA_HOME} AND NOT (WIN32 AND MERO_JDK_INCLUDE))
  find_program(_javac javac REQUIRED)
  get_filename_component(_javac_real ${_javac} REALPATH)
  get_filename_component(_jdk_bin ${_javac_real} DIRECTORY)
  get_filename_component(_jdk_home ${_jdk_bin} DIRECTORY)
  set(ENV{JAVA_HOME} ${_jdk_home})
endif()

if(WIN32)
  # The JDK here is a Linux one: its jni.h serves, with our own jni_md.h for
  # Windows (see cmake/windows/jni_md.h).
  set(MERO_JDK_INCLUDE $ENV{JAVA_HOME}/include CACHE PATH "The JDK's include directory, for jni.h")
  if(NOT EXISTS ${MERO_JDK_INCLUDE}/jni.h)
    message(FATAL_ERROR "No jni.h in ${MERO_JDK_INCLUDE}: set MERO_JDK_INCLUDE to the JDK's include directory")
  endif()
  set(MERO_JNI_INCLUDE_DIRS ${MERO_JDK_INCLUDE} ${CMAKE_CURRENT_LIST_DIR}/windows)
  return()
endif()

set(JAVA_HOME $ENV{JAVA_HOME})
find_package(JNI REQUIRED COMPONENTS JVM)
set(MERO_JNI_INCLUDE_DIRS ${JNI_INCLUDE_DIRS})
