#!/bin/sh
# A stand-in for rastertoZelvar that fails the way a filter does: it takes the
# first bytes of the raster, says why on standard error and exits with status 1.
head -c 4096 >/dev/null
echo "ERROR: the printer stopped responding" >&2
exit 1
