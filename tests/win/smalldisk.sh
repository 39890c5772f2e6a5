#!/bin/sh
# Test driver for the full-disk test: mounts a 4 MB tmpfs at DIR (mount) or removes it (unmount).
# Where mounting is not allowed, DIR stays a plain folder and the test plays the small disk.
action=$1 dir=$2
case $action in
mount)
    mountpoint -q "$dir" && umount "$dir"
    mkdir -p "$dir"
    if mount -t tmpfs -o size=4m tmpfs "$dir" 2>/dev/null; then
        echo "4 MB tmpfs mounted at $dir"
    else
        echo "mounting not allowed here: $dir is a plain folder"
    fi
    ;;
unmount)
    mountpoint -q "$dir" && umount "$dir"
    rm -rf "$dir"
    ;;
esac
exit 0
