#!/bin/sh
# Fails when a source file under src/ includes a header of a layer it may not
# depend on. Layers, lowest first: foundation, platform, engine, ops; the JNI
# adapters and the command-line tool sit on top and never on each other.
# Each line of `allowed` names a folder and the folders its files may include.
set -eu
cd "$(dirname "$0")/.."
allowed='foundation: foundation
platform: foundation platform
engine: foundation platform engine
ops: foundation platform engine ops
jni: foundation platform engine ops jni
javaapi: foundation platform engine ops jni javaapi
tool: foundation platform engine ops tool'

status=0
for dir in src/*/; do
  layer=$(basename "$dir")
  may=$(printf '%s\n' "$allowed" | sed -n "s/^$layer: //p")
  if [ -z "$may" ]; then
    echo "check-layering: src/$layer/ has no entry in the layer table" >&2
    status=1
    continue
  fi
  # Every quoted include that names a folder: file:line:folder
  hits=$(grep -rnoE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z_]+/' "$dir" || true)
  [ -n "$hits" ] || continue
  bad=$(printf '%s\n' "$hits" | while IFS= read -r hit; do
    target=$(printf '%s' "$hit" | sed -E 's/.*"([a-z_]+)\/$/\1/')
    case " $may " in
      *" $target "*) ;;
      *) printf '%s\n' "$hit" ;;
    esac
  done)
  if [ -n "$bad" ]; then
    printf '%s\n' "$bad" | sed "s/\$/  <- src\/$layer\/ may include only: $may/" >&2
    status=1
  fi
done
[ "$status" = 0 ] && echo "check-layering: every include points down"
exit "$status"
