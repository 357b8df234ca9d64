#!/bin/sh
# Runs JUnit 5 test classes in a JVM with -Xcheck:jni and fails when the JVM
# reports any JNI warning, even if every test passed.
# Usage: run_junit.sh JAVA JUNIT_STANDALONE_JAR CLASSPATH CLASS_NAME_REGEX
set -u
java=$1 junit=$2 classpath=$3 pattern=$4
log=$(mktemp)
"$java" -Xcheck:jni -Dmero.test.classpath="$classpath" -jar "$junit" --disable-banner --details=summary --fail-if-no-tests \
  -cp "$classpath" --scan-classpath --include-classname "$pattern" >"$log" 2>&1
status=$?
cat "$log"
if grep -E "WARNING.*JNI|WARNING in native method|FATAL ERROR in native method" "$log" >/dev/null; then
  echo "JNI warnings were reported"
  status=1
fi
rm -f "$log"
exit $status
