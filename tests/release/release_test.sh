#!/bin/bash
# The publisher's release, checked with a throwaway certificate authority made here.
#   release_test.sh SRC WORK   two signed releases are identical and verify, a changed byte breaks the
#                              signature, the password stays hidden, an unsigned one says so; leaves WORK/dist/
set -euo pipefail
EXE=VexmoorSkyriftSetup.exe

fail() { echo "FAIL: $*" >&2; exit 1; }

# flip IN OUT AT: IN with the byte at offset AT changed
flip() {
    cp "$1" "$2"
    printf "$(printf '\\%03o' $(( $(od -An -tu1 -j "$3" -N1 "$1") ^ 1 )))" | dd of="$2" bs=1 seek="$3" conv=notrunc status=none
}

src=$(cd "$1" && pwd) work=${2:?WORK}
rm -rf "$work" && mkdir -p "$work"/{ca,payload,shim} && cd "$work" && work=$PWD

# a CA and a code-signing certificate under it; the key both in PEM and in PKCS#12, under one password
pw=$(openssl rand -hex 12)
printf '%s\n' "$pw" > ca/password
( cd ca && export PW=$pw
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj "/CN=Throwaway CA" \
      -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign
  openssl req -newkey rsa:2048 -keyout sign.key -passout env:PW -out sign.csr -subj "/CN=Throwaway Publisher"
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > ext
  openssl x509 -req -in sign.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 -extfile ext -out sign.pem
  openssl pkcs12 -export -inkey sign.key -passin env:PW -in sign.pem -passout env:PW -out sign.pfx
) >/dev/null 2>&1 || fail "could not make the throwaway certificates"

head -c 65536 /dev/urandom > payload/vxmain.vdf
echo "Throwaway read-me of the release test." > payload/vxsky_readme.txt
# every command line osslsigncode is given, as it gets it
printf '#!/bin/bash\nprintf "%%s\\n" "$*" >> %q\nexec %q "$@"\n' "$work/cmdlines" "$(command -v osslsigncode)" \
    > shim/osslsigncode && chmod +x shim/osslsigncode
release() { PATH=$work/shim:$PATH "$src/tools/release.sh" --payload payload "$@" -- -DSKYRIFT_PUBLISHER='Throwaway "Test" Publisher'; }
verify() { osslsigncode verify -CAfile ca/ca.pem -in "$1" > verify.log 2>&1; }
sums() { (cd "$1" && sha256sum --quiet -c SHA256SUMS) || fail "$1: SHA256SUMS does not match"; }

# the first release: from the PKCS#12 file, the password in the environment, the time given
unset SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct) SKYRIFT_SIGN_PASSWORD=$pw \
    release --pfx ca/sign.pfx --build build-a --out dist > out-a || fail "first release"
sums dist
verify dist/$EXE || { cat verify.log; fail "signature not accepted"; }
grep -q "Timestamp is not available" verify.log || fail "a time-stamp server was asked"
# the publisher given is the one the file's properties name
python3 -c 'import sys; sys.exit(sys.argv[2].encode("utf-16-le") not in open(sys.argv[1], "rb").read())' dist/$EXE \
    'Copyright (C) Throwaway "Test" Publisher' || fail "the file's properties do not name the publisher given"

# one changed byte in the code or the resources (the embedded payload among them)
middle() {   # file offset of the middle of a section
    local size off
    read -r size off < <(${SKYRIFT_ARCH:-i686}-w64-mingw32-objdump -h dist/$EXE | awk -v s="$1" '$2 == s { print $3, $6 }')
    echo $((16#$off + 16#$size / 2))
}
flip dist/$EXE text.exe "$(middle .text)"
flip dist/$EXE rsrc.exe "$(middle .rsrc)"
for f in text.exe rsrc.exe; do
    [ "$(cmp -l dist/$EXE "$f" | wc -l)" = 1 ] || fail "$f: not one changed byte"
    if verify "$f"; then fail "$f: signature accepted after a changed byte"; fi
done

# the rest checks the release tool, the same for either build, so only in the i686 tree
[ "${SKYRIFT_ARCH:-i686}" = i686 ] ||
    { echo "release ok ($SKYRIFT_ARCH): signed $(stat -c %s dist/$EXE) bytes; left $work/dist/$EXE"; exit 0; }

# the second release, from PEM files, the password in a file, the time the last commit's: the same bytes
release --key ca/sign.key --cert ca/sign.pem --password-file ca/password --build build-b --out dist-b > out-b ||
    fail "second release"
cmp dist/$EXE dist-b/$EXE || fail "two signed releases differ"
[ "$(wc -l < cmdlines)" = 2 ] || fail "osslsigncode was not run twice"
if grep -F "$pw" out-a out-b cmdlines; then fail "the password was shown"; fi

# a build folder that holds someone's files is refused and left alone
mkdir -p mine && echo keep > mine/notes.txt
if release --build mine --out dist-m > out-m 2>&1; then fail "a release emptied a folder it did not make"; fi
grep -q "refusing to empty" out-m || { cat out-m; fail "the refusal does not say why"; }
[ "$(cat mine/notes.txt)" = keep ] && [ "$(ls -A mine)" = notes.txt ] || fail "the refused folder was changed"

# unsigned: said so, the same bytes as build-a's; build-b, which the tool made, is emptied first
touch build-b/stale
release --build build-b --out dist-u > out-u || fail "unsigned release"
[ ! -e build-b/stale ] || fail "a build folder the tool made was not emptied"
grep -q UNSIGNED out-u || fail "the unsigned release does not say so"
sums dist-u
cmp dist-u/$EXE build-a/bin/$EXE || fail "unsigned release differs from another build folder's"
if verify dist-u/$EXE; then fail "unsigned exe passed verification"; fi
for p in "$src" "$work"; do if grep -qaF "$p" dist/$EXE; then fail "the program holds the path $p"; fi; done
echo "release ok: signed $(stat -c %s dist/$EXE) bytes, identical twice; left $work/dist/$EXE"
