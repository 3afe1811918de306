#!/usr/bin/env bash
# make_tool_archives.sh FOLDER: the encrypted archives of zip_archive_test,
# made with zip and 7z on the build machine for the Windows build, whose
# tests run under Wine where those programs do not: the same commands, files
# and labels as the test's (EncryptedCase, DifferentPasswordsOpenNoArchive),
# one archive "<label>-<password>.zip" for each password a test uses, and
# mixed.zip. FOLDER/made marks a complete set.
set -euo pipefail
out=$1
export LC_ALL=C.UTF-8
for tool in zip 7z; do
  command -v "$tool" >/dev/null ||
    { echo "make_tool_archives.sh: $tool is missing (packages zip, p7zip-full)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# big.txt: kBigText, 50,000 letters from the test's linear congruential
# generator (modulo 2^32).
big_text() {
  local letters=abcdefghijklmnopqrstuvwxyz state=12345 text='' i
  for ((i = 0; i < 50000; ++i)); do
    state=$(( (state * 1103515245 + 12345) & 0xFFFFFFFF ))
    text+=${letters:$(( (state >> 16) % 26 )):1}
  done
  printf '%s' "$text"
}
mkdir "$work/files"
printf '%s' 'small secret text' >"$work/files/small.txt"
big_text >"$work/files/big.txt"
: >"$work/files/empty.txt"

# label, then the program and its arguments before the archive's name; the
# password in place of PASSWORD.
cases=(
  'pkware_zip zip -q -P PASSWORD'
  'aes256_7z 7z a -tzip -mem=AES256 -pPASSWORD'
  'aes128_7z 7z a -tzip -mem=AES128 -pPASSWORD'
  'pkware_stored_zip zip -q -0 -P PASSWORD'
  'aes256_stored_7z 7z a -tzip -mx0 -mem=AES256 -pPASSWORD'
)
mkdir "$work/archives"
for line in "${cases[@]}"; do
  for password in s3cret-Pass right; do
    read -r label command <<<"${line//PASSWORD/$password}"
    (cd "$work/files" && $command "$work/archives/$label-$password.zip" \
       small.txt big.txt empty.txt >/dev/null)
  done
done

mkdir "$work/mixed"
printf '%s' "first entry's text" >"$work/mixed/a.txt"
printf '%s' "the second entry's text, somewhat longer" >"$work/mixed/b.txt"
(cd "$work/mixed" && 7z a -tzip -mem=AES256 -pfirst "$work/archives/mixed.zip" a.txt >/dev/null &&
   7z a -tzip -mem=AES256 -psecond "$work/archives/mixed.zip" b.txt >/dev/null)

rm -rf "$out"
mv "$work/archives" "$out"
touch "$out/made"
