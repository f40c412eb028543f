# ccache's settings for every build the scripts run; sourced, not run.
#
# The cache lives outside the checkout, under the user's cache directory, so a
# fresh clone (CI clones anew for every run) compiles warm after the first run
# on a machine. Paths are hashed relative to the checkout and the working
# directory is left out of the hash, so clones in other folders share it.
# Each may be set beforehand to override.
export CCACHE_DIR=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/trovik/ccache}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}
