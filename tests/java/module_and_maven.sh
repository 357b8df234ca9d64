#!/bin/sh
# The module jar as a build tool and a modular program take it:
#   module_and_maven.sh module BUILD_DIR WORK_DIR
#     compiles and runs a program on the module path that requires org.mero.db
#   module_and_maven.sh maven BUILD_DIR WORK_DIR
#     runs `mvn install` of pom.xml offline into a fresh local repository
#     (Debian's packaged Maven plugins linked in) and checks what it installed
set -eu
mode=$1 build=$2 work=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
jar=$build/mero-database-module.jar
rm -rf "$work"
mkdir -p "$work"
case $mode in
module)
  javac --release 17 -d "$work/classes" --module-path "$jar" \
    $(find "$root/tests/module/app" -name '*.java')
  out=$(java -Xcheck:jni --module-path "$jar:$work/classes" \
    -m org.mero.db.moduletest/org.mero.db.moduletest.ModuleApp "$work" 2>&1)
  echo "$out"
  expected="found 2 with version $(sed -n 's/^Implementation-Version: //p' "$build/mero-database-module.manifest") from module org.mero.db"
  [ "$out" = "$expected" ] || { echo "expected: $expected"; exit 1; }
  ;;
maven)
  repo=$work/repository
  mkdir -p "$repo"
  # Offline, the plugins come from Debian's repository, linked file by file.
  cp -rs /usr/share/maven-repo/. "$repo/"
  mvn -o -B -q -f "$root/pom.xml" -Dmaven.repo.local="$repo" -Dmero.build="$build" install
  version=$(sed -n 's|^  <version>\(.*\)</version>|\1|p' "$root/pom.xml" | head -n 1)
  installed=$repo/org/mero/mero-database/$version/mero-database-$version.jar
  [ -f "$installed" ] || { echo "mvn install left no $installed"; exit 1; }
  cmp "$installed" "$jar" >/dev/null 2>&1 || unzip -l "$installed" | grep -q module-info.class ||
    { echo "$installed holds no module-info.class"; exit 1; }
  unzip -l "$installed" | grep -q "META-INF/LICENSE" || { echo "$installed holds no LICENSE"; exit 1; }
  # GraalVM native-image's configuration (untested here: no GraalVM at hand).
  unzip -l "$installed" | grep -q "META-INF/native-image/org.mero/mero-database/jni-config.json" ||
    { echo "$installed holds no native-image configuration"; exit 1; }
  echo "installed $installed"
  ;;
*)
  echo "usage: $0 module|maven BUILD_DIR WORK_DIR" >&2
  exit 2
  ;;
esac
