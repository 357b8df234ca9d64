# Finds jni.h. FindJNI needs JAVA_HOME; when it is unset, take the JDK that
# the javac on PATH belongs to.
if(WIN32)
  # The JDK here is a Linux one: its jni.h serves, with our own jni_md.h for
  # Windows (see cmake/windows/jni_md.h).
  if(NOT MERO_JDK_INCLUDE)
    message(FATAL_ERROR "Set MERO_JDK_INCLUDE to the JDK's include directory")
  endif()
  set(MERO_JNI_INCLUDE_DIRS ${MERO_JDK_INCLUDE} ${CMAKE_CURRENT_LIST_DIR}/windows)
  return()
endif()

if(NOT DEFINED ENV{JAVA_HOME})
  find_program(_javac javac REQUIRED)
  get_filename_component(_javac_real ${_javac} REALPATH)
  get_filename_component(_jdk_bin ${_javac_real} DIRECTORY)
  get_filename_component(_jdk_home ${_jdk_bin} DIRECTORY)
  set(ENV{JAVA_HOME} ${_jdk_home})
endif()
set(JAVA_HOME $ENV{JAVA_HOME})
find_package(JNI REQUIRED COMPONENTS JVM)
set(MERO_JNI_INCLUDE_DIRS ${JNI_INCLUDE_DIRS})
