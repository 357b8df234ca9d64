#!/bin/sh
# The main job: install what is missing, build, and run the demo from Java.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
classes=build/demo-classes
mkdir -p "$classes"
javac -encoding UTF-8 -cp build/mero-database.jar -d "$classes" examples/Demo.java \
  examples/org/mero/db/examples/ApiDemo.java
echo "--- DatabaseMarshall (examples/Demo.java)"
java -Xcheck:jni -cp "build/mero-database.jar:$classes" Demo build/demo-data
echo "--- org.mero.db (examples/org/mero/db/examples/ApiDemo.java)"
java -Xcheck:jni -cp "build/mero-database.jar:$classes" org.mero.db.examples.ApiDemo build/demo-data
