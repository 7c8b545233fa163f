# For the scripts that run programs as another user (a throwaway one, or root
# without its capabilities). The build tree may sit where that user cannot
# enter (a clone under /root or a home folder, a mktemp -d folder), so such
# programs run from copies in a folder of the script's own. Sourced by the
# scripts.

# Copies the files named by the variables given after $1 into the folder $1
# (made, mode 0755: its parents must let every user through, as a mktemp -d
# folder made 0755 does) and points each variable at its copy; a variable
# that is empty is left so. LeakSanitizer reads its suppressions file when
# each checked program ends, so one named in LSAN_OPTIONS is copied too.
copy_for_other_users() {
    local folder=$1 name suppressions
    shift
    mkdir -p "$folder" && chmod 0755 "$folder" || return 1
    for name in "$@"; do
        [ -n "${!name}" ] || continue
        cp "${!name}" "$folder/" || return 1
        printf -v "$name" '%s' "$folder/${!name##*/}"
    done
    if [[ ${LSAN_OPTIONS:-} =~ (^|[:\ ])suppressions=([^:\ ]+) ]]; then
        suppressions=${BASH_REMATCH[2]}
        cp "$suppressions" "$folder/" || return 1
        LSAN_OPTIONS=${LSAN_OPTIONS/"suppressions=$suppressions"/"suppressions=$folder/${suppressions##*/}"}
    fi
}
