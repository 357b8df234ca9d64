# The Java class, its loader and the jar that carries the native library.
find_package(Java 17 REQUIRED COMPONENTS Development)
if(NOT Java_JAVADOC_EXECUTABLE)
  message(FATAL_ERROR "javadoc not found (it comes with the JDK)")
endif()
set(MERO_JAVA_CLASSES ${CMAKE_BINARY_DIR}/java-classes)
set(MERO_JAR ${CMAKE_BINARY_DIR}/mero-database.jar)
# The packaged API (org.mero.db) reaches DatabaseMarshall by reflection, so
# its javadoc builds from its own sources alone.
file(GLOB MERO_JAVA_API_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/java/org/mero/db/*.java)
set(MERO_JAVA_SOURCES
  ${CMAKE_SOURCE_DIR}/java/DatabaseMarshall.java
  ${CMAKE_SOURCE_DIR}/java/DatabaseMarshallLoader.java
  ${MERO_JAVA_API_SOURCES})
set(MERO_JAVADOC_JAR ${CMAKE_BINARY_DIR}/mero-database-javadoc.jar)
set(MERO_SOURCES_JAR ${CMAKE_BINARY_DIR}/mero-database-sources.jar)
set(MERO_JAR_MANIFEST ${CMAKE_BINARY_DIR}/mero-database.manifest)
file(WRITE ${MERO_JAR_MANIFEST} "Automatic-Module-Name: org.mero.db\n")

# A Windows DLL built beside this tree (see cmake/windows/) joins the jar
# when MERO_WINDOWS_DLL names it.
set(MERO_WINDOWS_DLL "" CACHE FILEPATH "MERO_Database.dll to carry in the jar as well")
set(_jar_native ${CMAKE_BINARY_DIR}/jar-native)
set(_copy_windows)
if(MERO_WINDOWS_DLL)
  set(_copy_windows COMMAND ${CMAKE_COMMAND} -E copy ${MERO_WINDOWS_DLL} ${_jar_native}/native/windows-x86_64/MERO_Database.dll)
endif()

add_custom_command(
  OUTPUT ${MERO_JAR}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${MERO_JAVA_CLASSES} ${_jar_native}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MERO_JAVA_CLASSES} ${_jar_native}/native/linux-x86_64 ${_jar_native}/native/windows-x86_64
  COMMAND ${Java_JAVAC_EXECUTABLE} --release 17 -encoding UTF-8 -Xlint:all -Werror -d ${MERO_JAVA_CLASSES} ${MERO_JAVA_SOURCES}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:MERO_Database> ${_jar_native}/native/linux-x86_64/
  ${_copy_windows}
  COMMAND ${Java_JAR_EXECUTABLE} cfm ${MERO_JAR} ${MERO_JAR_MANIFEST} -C ${MERO_JAVA_CLASSES} . -C ${_jar_native} native
  DEPENDS ${MERO_JAVA_SOURCES} MERO_Database ${MERO_WINDOWS_DLL}
  COMMENT "Building mero-database.jar"
  VERBATIM)
add_custom_target(mero_jar ALL DEPENDS ${MERO_JAR})

# Javadoc (which fails on any public type or member left undocumented) and
# the sources, each in a jar beside the main one.
set(_javadoc_dir ${CMAKE_BINARY_DIR}/javadoc)
add_custom_command(
  OUTPUT ${MERO_JAVADOC_JAR} ${MERO_SOURCES_JAR}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${_javadoc_dir}
  COMMAND ${Java_JAVADOC_EXECUTABLE} -quiet --release 17 -encoding UTF-8 -Xdoclint:all -Werror
          -d ${_javadoc_dir} ${MERO_JAVA_API_SOURCES}
  COMMAND ${Java_JAR_EXECUTABLE} cf ${MERO_JAVADOC_JAR} -C ${_javadoc_dir} .
  COMMAND ${Java_JAR_EXECUTABLE} cf ${MERO_SOURCES_JAR} -C ${CMAKE_SOURCE_DIR}/java .
  DEPENDS ${MERO_JAVA_SOURCES}
  COMMENT "Building the javadoc and sources jars"
  VERBATIM)
add_custom_target(mero_javadoc ALL DEPENDS ${MERO_JAVADOC_JAR} ${MERO_SOURCES_JAR})
