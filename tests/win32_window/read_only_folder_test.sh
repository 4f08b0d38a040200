#!/usr/bin/env bash
# The window over a program folder it cannot write, under Wine: a folder made
# immutable (chattr +i, which holds even for root) with an old Quendal.exe.
# The window test reads the folder from QUENDAL_TEST_READ_ONLY_FOLDER; the
# folder must be unchanged afterwards. Exits 77 (skipped) where the file
# system has no immutable flag.
#   read_only_folder_test.sh BUILD_DIR
set -euo pipefail
build=$1
folder=$(mktemp -d /tmp/quendal-read-only.XXXXXX)
cleanup() {
    chattr -i "$folder" 2>/dev/null || true
    rm -rf "$folder"
}
trap cleanup EXIT
echo "Quendal 1.0" > "$folder/Quendal.exe"
before=$(find "$folder" -printf '%p %s %T@\n' | sort; cat "$folder/Quendal.exe")
chattr +i "$folder" 2>/dev/null || { echo "no immutable flag on $folder's file system"; exit 77; }
QUENDAL_TEST_READ_ONLY_FOLDER="Z:${folder//\//\\}" "$build/display-run.sh" "$build/tests/win32_window_tests.exe" \
    --gtest_filter=Win32UpdaterWindow.AFolderItCannotWriteIsLeftAloneWithTheCompanionRunning
after=$(find "$folder" -printf '%p %s %T@\n' | sort; cat "$folder/Quendal.exe")
[ "$before" = "$after" ] || { echo "FAILED: the program folder was changed" >&2; exit 1; }
