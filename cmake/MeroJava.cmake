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
# The loader both libraries share; internal, so outside the javadoc.
file(GLOB MERO_JAVA_INTERNAL_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/java/org/mero/db/internal/*.java)
# The version, from project(), as a constant of the package.
set(MERO_JAVA_VERSION_SOURCE ${CMAKE_BINARY_DIR}/generated-java/org/mero/db/Version.java)
configure_file(${CMAKE_SOURCE_DIR}/java/Version.java.in ${MERO_JAVA_VERSION_SOURCE} @ONLY)
set(MERO_JAVA_MODULE_SOURCES ${MERO_JAVA_API_SOURCES} ${MERO_JAVA_INTERNAL_SOURCES} ${MERO_JAVA_VERSION_SOURCE})
set(MERO_JAVA_SOURCES
  ${CMAKE_SOURCE_DIR}/java/DatabaseMarshall.java
  ${CMAKE_SOURCE_DIR}/java/DatabaseMarshallLoader.java
  ${MERO_JAVA_MODULE_SOURCES})
# The module org.mero.db alone, without DatabaseMarshall, for the module path
# and for Maven (pom.xml installs this jar).
set(MERO_MODULE_CLASSES ${CMAKE_BINARY_DIR}/module-classes)
set(MERO_MODULE_JAR ${CMAKE_BINARY_DIR}/mero-database-module.jar)
set(MERO_MODULE_MANIFEST ${CMAKE_BINARY_DIR}/mero-database-module.manifest)
set(MERO_JAVADOC_JAR ${CMAKE_BINARY_DIR}/mero-database-javadoc.jar)
set(MERO_SOURCES_JAR ${CMAKE_BINARY_DIR}/mero-database-sources.jar)
set(MERO_JAR_MANIFEST ${CMAKE_BINARY_DIR}/mero-database.manifest)
# Enable-Native-Access: JDK 24 and later warn about the library's native
# methods unless the application allows them; a jar run with -jar allows
# them through its manifest.
set(_version_lines "Implementation-Title: MERO Database\nImplementation-Version: ${PROJECT_VERSION}\n")
file(WRITE ${MERO_JAR_MANIFEST} "${_version_lines}Enable-Native-Access: ALL-UNNAMED\n")
file(WRITE ${MERO_MODULE_MANIFEST} "${_version_lines}")

# GraalVM native-image reads the JNI and resource configuration from here.
file(GLOB MERO_NATIVE_IMAGE_CONFIG CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/java/META-INF/native-image/*/*/*.json)

# The jar carries stripped libraries; their debug information stays beside
# the jar (build/*.debug), found by debuggers through a .gnu_debuglink.
set(_jar_native ${CMAKE_BINARY_DIR}/jar-native)
set(_linux_so ${_jar_native}/native/linux-x86_64/libMERO_Database.so)
set(_linux_debug ${CMAKE_BINARY_DIR}/libMERO_Database.so.debug)
set(_linux_api_so ${_jar_native}/native/linux-x86_64/libmero_java.so)
set(_linux_api_debug ${CMAKE_BINARY_DIR}/libmero_java.so.debug)

# A Windows DLL built beside this tree (see cmake/windows/) joins the jar
# when MERO_WINDOWS_DLL names it, with the API's mero_java.dll built beside
# it; MinGW's objcopy strips them.
set(MERO_WINDOWS_DLL "" CACHE FILEPATH "MERO_Database.dll to carry in the jar as well")
set(_copy_windows)
if(MERO_WINDOWS_DLL)
  find_program(MERO_MINGW_OBJCOPY NAMES x86_64-w64-mingw32-objcopy REQUIRED)
  get_filename_component(_windows_build ${MERO_WINDOWS_DLL} DIRECTORY)
  set(MERO_WINDOWS_API_DLL ${_windows_build}/mero_java.dll)
  set(_windows_dll ${_jar_native}/native/windows-x86_64/MERO_Database.dll)
  set(_windows_debug ${CMAKE_BINARY_DIR}/MERO_Database.dll.debug)
  set(_windows_api_dll ${_jar_native}/native/windows-x86_64/mero_java.dll)
  set(_windows_api_debug ${CMAKE_BINARY_DIR}/mero_java.dll.debug)
  set(_copy_windows
    COMMAND ${MERO_MINGW_OBJCOPY} --only-keep-debug ${MERO_WINDOWS_DLL} ${_windows_debug}
    COMMAND ${MERO_MINGW_OBJCOPY} --strip-all --add-gnu-debuglink=${_windows_debug} ${MERO_WINDOWS_DLL} ${_windows_dll}
    COMMAND ${MERO_MINGW_OBJCOPY} --only-keep-debug ${MERO_WINDOWS_API_DLL} ${_windows_api_debug}
    COMMAND ${MERO_MINGW_OBJCOPY} --strip-all --add-gnu-debuglink=${_windows_api_debug} ${MERO_WINDOWS_API_DLL}
            ${_windows_api_dll})
endif()

add_custom_command(
  OUTPUT ${MERO_JAR} ${MERO_MODULE_JAR}
  BYPRODUCTS ${_linux_debug} ${_linux_api_debug} ${_windows_debug} ${_windows_api_debug}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${MERO_JAVA_CLASSES} ${_jar_native} ${MERO_MODULE_CLASSES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MERO_JAVA_CLASSES} ${_jar_native}/native/linux-x86_64 ${_jar_native}/native/windows-x86_64
          ${_jar_native}/META-INF ${MERO_MODULE_CLASSES}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/LICENSE ${_jar_native}/META-INF/LICENSE
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/java/META-INF/native-image
          ${_jar_native}/META-INF/native-image
  COMMAND ${Java_JAVAC_EXECUTABLE} --release 17 -encoding UTF-8 -Xlint:all -Werror -d ${MERO_JAVA_CLASSES} ${MERO_JAVA_SOURCES}
  COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:MERO_Database> ${_linux_debug}
  COMMAND ${CMAKE_OBJCOPY} --strip-unneeded --add-gnu-debuglink=${_linux_debug} $<TARGET_FILE:MERO_Database> ${_linux_so}
  COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:mero_java> ${_linux_api_debug}
  COMMAND ${CMAKE_OBJCOPY} --strip-unneeded --add-gnu-debuglink=${_linux_api_debug} $<TARGET_FILE:mero_java> ${_linux_api_so}
  ${_copy_windows}
  COMMAND ${Java_JAR_EXECUTABLE} cfm ${MERO_JAR} ${MERO_JAR_MANIFEST} -C ${MERO_JAVA_CLASSES} . -C ${_jar_native} native
          -C ${_jar_native} META-INF/LICENSE -C ${_jar_native} META-INF/native-image
  COMMAND ${Java_JAVAC_EXECUTABLE} --release 17 -encoding UTF-8 -Xlint:all -Werror -d ${MERO_MODULE_CLASSES}
          ${CMAKE_SOURCE_DIR}/java/module/module-info.java ${MERO_JAVA_MODULE_SOURCES}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${_jar_native} ${MERO_MODULE_CLASSES}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${MERO_MODULE_CLASSES}/native/linux-x86_64/libMERO_Database.so
          ${MERO_MODULE_CLASSES}/native/windows-x86_64/MERO_Database.dll
  COMMAND ${Java_JAR_EXECUTABLE} --create --file ${MERO_MODULE_JAR} --manifest ${MERO_MODULE_MANIFEST}
          -C ${MERO_MODULE_CLASSES} .
  DEPENDS ${MERO_JAVA_SOURCES} ${CMAKE_SOURCE_DIR}/java/module/module-info.java ${CMAKE_SOURCE_DIR}/LICENSE
          ${MERO_NATIVE_IMAGE_CONFIG}
          MERO_Database mero_java ${MERO_WINDOWS_DLL} ${MERO_WINDOWS_API_DLL}
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
          -sourcepath ${CMAKE_SOURCE_DIR}/java
          -d ${_javadoc_dir} ${MERO_JAVA_API_SOURCES} ${MERO_JAVA_VERSION_SOURCE}
  COMMAND ${Java_JAR_EXECUTABLE} cf ${MERO_JAVADOC_JAR} -C ${_javadoc_dir} .
  COMMAND ${Java_JAR_EXECUTABLE} cf ${MERO_SOURCES_JAR} -C ${CMAKE_SOURCE_DIR}/java .
  DEPENDS ${MERO_JAVA_SOURCES}
  COMMENT "Building the javadoc and sources jars"
  VERBATIM)
add_custom_target(mero_javadoc ALL DEPENDS ${MERO_JAVADOC_JAR} ${MERO_SOURCES_JAR})
