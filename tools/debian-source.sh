# Sourced by the scripts that build a Windows dependency from Debian's own
# source package (build-qt-windows.sh, build-openssl-windows.sh).
#
# The source comes through apt with a private sources list, lists and cache
# folder below the caller's work folder (deb-src lines of bookworm, its
# updates and its security archive only), so the machine's own apt
# configuration and what it installs stay untouched.

# debian_source_setup WORK: writes the private configuration into WORK/apt,
# fills the array apt_opts with the options that select it, and reads the
# archives' source lists.
debian_source_setup() {
  local work="$1" archive
  mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial"
  for archive in "debian bookworm" "debian bookworm-updates" "debian-security bookworm-security"; do
    set -- $archive
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/$1 $2 main"
  done >"$work/apt/sources.list"
  apt_opts=(
    -o "Dir::Etc::sourcelist=$work/apt/sources.list"
    -o "Dir::Etc::sourceparts=-"
    -o "Dir::State::Lists=$work/apt/lists"
    -o "Dir::Cache=$work/apt/cache"
    -o "APT::Sandbox::User=root"
  )
  apt-get "${apt_opts[@]}" -qq update
}

# debian_source_get FOLDER PACKAGE=VERSION LOG: downloads and unpacks that
# source into FOLDER (after debian_source_setup); apt's output is appended
# to LOG. Fails as apt-get does.
debian_source_get() {
  (cd "$1" && apt-get "${apt_opts[@]}" -qq source "$2" >>"$3" 2>&1)
}
