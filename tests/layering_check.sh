#!/bin/sh
# The source directories depend one way: each may include only the directories
# before it in this order (and itself).  Prints every include that points the
# other way and exits 1 when there is one.
#   tests/layering_check.sh SOURCE_DIR
cd "${1:-.}/src" || exit 1
order="runtime page image output driver filter printer_app"
bad=0
rank() {
  i=0
  for d in $order; do
    [ "$d" = "$1" ] && echo $i && return
    i=$((i + 1))
  done
  echo 99
}
for dir in $order; do
  [ -d "$dir" ] || continue
  own=$(rank "$dir")
  for hit in $(grep -rnoE '#include "[a-z_]+/' "$dir" | sed 's/#include "//; s#/$##'); do
    target=${hit##*:}
    if [ "$(rank "$target")" -gt "$own" ]; then
      echo "src/${hit%%:*}:$(echo "$hit" | cut -d: -f2) includes $target/, which comes after $dir/"
      bad=1
    fi
  done
done
exit $bad
