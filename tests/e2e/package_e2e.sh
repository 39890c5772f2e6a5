#!/usr/bin/env bash
# The downloads as a user gets them, made by scripts/package from both built exes: each zip holds
# one folder with the stripped exe, every licence, the guide and checksums that hold; the zip's
# name, the guide and the exe's version resource name one version; gdb reads the symbols from the
# debug file kept beside the zip; and the 64-bit program, unpacked, starts and records. (The
# 32-bit exe cannot run here: these kernels refuse 32-bit code, which Wine 8 needs for it.)
source "$(dirname "$0")/lib.sh" "$@"
dist=$E2E_WORK/dist
"$E2E_DIR/../../scripts/package" --no-build --out "$dist" >"$E2E_WORK/package.log" 2>&1 ||
    fail "scripts/package: $(tail -3 "$E2E_WORK/package.log")"
(cd "$dist" && sha256sum -c --quiet SHA256SUMS) || fail "the zips do not match their SHA256SUMS"

for tree in win32 win64; do
    zip=$(ls "$dist"/quarnelby-*-$tree.zip) || fail "no $tree zip: $(ls "$dist")"
    name=$(basename "$zip" .zip)
    version=${name#quarnelby-} version=${version%-$tree}
    unzip -q "$zip" -d "$E2E_WORK/$tree" || fail "$zip does not unpack"
    dir=$E2E_WORK/$tree/$name
    [ -d "$dir" ] || fail "$zip does not unpack into the folder $name"
    files=$(cd "$dir" && ls | tr '\n' ' ')
    echo "$name: $files"
    for f in quarnelby.exe README.txt SHA256SUMS LICENSE.txt OpenH264-LICENSE.txt vo-aacenc-LICENSE.txt \
        vo-aacenc-NOTICE.txt SpeexDSP-COPYING.txt MinGW-w64-COPYING.txt; do
        [ -s "$dir/$f" ] || fail "$name has no $f"
    done
    (cd "$dir" && sha256sum -c --quiet SHA256SUMS) || fail "$name's files do not match its SHA256SUMS"
    head -1 "$dir/README.txt" | grep -qF "Zo/quarnelby $version" || fail "the guide does not say $version"
    python3 -c 'import sys; sys.exit(("ProductVersion\0" + sys.argv[2] + "\0").encode("utf-16-le") not in open(sys.argv[1], "rb").read())' \
        "$dir/quarnelby.exe" "$version" || fail "the exe's version resource is not $version"
    size=$(stat -c %s "$dir/quarnelby.exe")
    echo "$tree exe: $size bytes"
    ! x86_64-w64-mingw32-objdump -h "$dir/quarnelby.exe" | grep -q '\.debug_' || fail "the $tree exe keeps debug sections"
    [ "$tree" = win64 ] || [ "$size" -lt 2621440 ] || fail "the 32-bit exe is $size bytes, over 2.5 MB"
    # Beside the exe, the debug file gives gdb the symbols with their source lines.
    cp "$dist/$name.debug" "$dir/"
    gdb -batch -ex "info functions ^wWinMain" "$dir/quarnelby.exe" 2>&1 | grep -q "quarnelby.cpp:" ||
        fail "gdb reads no symbols from $name.debug"
done

# The unpacked 64-bit folder is the program's: it starts there and records.
mv "$dir" "$E2E_WORK/app"
E2E_EXE=$E2E_WORK/app/quarnelby.exe
e2e_open_over_pattern
e2e_record_matches "$MENU_X0" "$CAM_TOP"
echo "PASS"
