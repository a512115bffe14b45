# shellcheck shell=bash
# Shared by the scripts that run Firebird from a root of their own (sourced, not run).
#
#   link_firebird_root INSTALLED ROOT [NAME...]
#
# Fills the folder ROOT (which must exist) from the installed Firebird root INSTALLED: every entry
# is linked except the NAMEs, which the caller writes itself, and intl, which is a folder of its
# own with a copy of each library and a link to each other entry. The engine loads the
# international module from $(root)/intl and takes its entry points only when the module's real
# path is the path it was given, so a linked module (or a ROOT named through a link, "." or "..")
# leaves every character set of that module missing. Name ROOT by its real path (pwd -P).
link_firebird_root() {
  local installed=$1 root=$2 entry name skip file
  shift 2
  for entry in "$installed"/*; do
    name=${entry##*/}
    for skip in "$@"; do
      [ "$name" != "$skip" ] || continue 2
    done
    if [ "$name" = intl ] && [ -d "$entry" ]; then
      mkdir -p "$root/intl"
      for file in "$entry"/*; do
        case ${file##*/} in
          *.so | *.so.*)
            if [ -f "$file" ]; then
              cp "$file" "$root/intl/"
              continue
            fi
            ;;
        esac
        ln -s "$file" "$root/intl/"
      done
    else
      ln -s "$entry" "$root/$name"
    fi
  done
}
