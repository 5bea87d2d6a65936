# Shell helpers shared by the scripts in tools/ and bench/; sourced.

# Installs the Debian packages named that are not installed yet (apt-get
# update only when the package lists are too old to have them).
install_missing() {
  local missing=() p sudo=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null 2>&1 ||
    { $sudo apt-get update -q >/dev/null && $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"; }
}

# Starts a private Xvfb and points DISPLAY at it when there is no display;
# the server ends with the calling shell.
start_xvfb_if_needed() {
  [ -z "${DISPLAY:-}" ] || return 0
  local xvfb_pid display
  exec 3< <(Xvfb -displayfd 1 -screen 0 1600x1200x24 -nolisten tcp 2>/dev/null & echo "pid $!")
  read -r _ xvfb_pid <&3
  read -r display <&3
  export DISPLAY=":$display"
  trap "kill $xvfb_pid 2>/dev/null || true" EXIT
}
