#!/bin/sh
# A short real run under valgrind's memcheck: no invalid access, no leak.
vexmo=$1
if [ "$(id -u)" != 0 ] || ! command -v valgrind >/dev/null; then
  echo "needs root and valgrind: skipped"
  exit 77
fi
exec valgrind --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
  "$vexmo" -c 2 -w 1000 127.0.0.1
