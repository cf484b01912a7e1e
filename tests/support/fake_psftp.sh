#!/bin/sh
# Stands in for psftp in tests: answers commands as psftp 0.78 words its answers.
# FAKE_PSFTP_RECORD names a file that receives the arguments, the password file's content
# and every command; FAKE_PSFTP_LOGIN chooses the login: ok (default), denied, fatal, silent,
# quits.
record=${FAKE_PSFTP_RECORD:-/dev/null}
printf 'args:%s\n' "$*" >>"$record"
while [ $# -gt 0 ]; do
    if [ "$1" = "-pwfile" ]; then
        printf 'password:%s\n' "$(cat "$2")" >>"$record"
    fi
    shift
done
case "${FAKE_PSFTP_LOGIN:-ok}" in
    denied) echo "Access denied"; echo "FATAL ERROR: Configured password was not accepted"; exit 1 ;;
    fatal) echo "FATAL ERROR: Connection refused"; exit 1 ;;
    silent) sleep 100; exit 0 ;;
    quits) echo "Something went wrong"; exit 1 ;;
esac
echo "Remote working directory is /home/tester"
while true; do
    printf 'psftp> '
    IFS= read -r command || exit 0
    command=$(printf '%s' "$command" | tr -d '\r')
    printf 'command:%s\n' "$command" >>"$record"
    case "$command" in
        'cd missing') echo "Directory /home/tester/missing: no such file or directory" ;;
        'cd locked') echo "Directory /home/tester/locked: permission denied" ;;
        'cd stall') sleep 100 ;;
        'cd weird') echo "something strange" ;;
        'cd dies') echo "FATAL ERROR: Network error: Connection reset by peer"; exit 1 ;;
        'cd quits') exit 1 ;;
        cd\ *) echo "Remote directory is now /home/tester/${command#cd }" ;;
        'mkdir taken') echo "mkdir /home/tester/taken: failure" ;;
        mkdir\ *) echo "mkdir /home/tester/${command#mkdir }: OK" ;;
        put\ *stall*) sleep 100 ;;
        put\ *unreadable*) echo "local: unable to open ${command#put }" ;;
        put\ *unwritable*) echo "/home/tester/file: open for write: failure" ;;
        put\ *broken*)
            echo "local:${command#put } => remote:/home/tester/file"
            echo "error while writing: connection reset"
            ;;
        put\ *) echo "local:${command#put } => remote:/home/tester/file" ;;
        'mv missing other') echo "mv /home/tester/missing /home/tester/other: failure" ;;
        'mv a b') echo "/home/tester/a -> /home/tester/b" ;;
        *) echo "psftp: unknown command \"$command\"" ;;
    esac
done
