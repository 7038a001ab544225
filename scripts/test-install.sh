#!/usr/bin/env bash
# The release as admins deploy it, checked in a fresh 64-bit Wine prefix:
# the x64 package installs silently into Program Files, a package of a later
# fourth version field replaces it in place (one entry), an older one is
# refused and changes nothing, the x86 package installs into Program Files
# (x86) (no 32-bit code runs for that), uninstalling leaves nothing behind;
# and a release signed with a throwaway certificate verifies and still runs.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export PATH="$root/scripts/wine-bin:$PATH" WINEDEBUG=-all
unset DISPLAY
failures=0 checks=0
check() {  # check "what" COMMAND...
    local what=$1; shift
    checks=$((checks + 1))
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

old=$(bash scripts/version.sh)
IFS=. read -r a b c d <<<"$old"
new="$a.$b.$c.$((d + 1))"  # only the fourth field differs: the hard case for Windows Installer
work="$root/build/install-test"
rm -rf "$work" && mkdir -p "$work"

# Both versions' packages; the newer one also signed, with a certificate made here.
build_at() {  # build_at VERSION: the programs of both architectures at VERSION
    for arch in x86 x64; do
        cmake -S . -B "build/$arch" -DKORVANE_VERSION="$1" >/dev/null && cmake --build "build/$arch" --target Korvane krvn -j"$(nproc)" >/dev/null || return 1
    done
}
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Korvane test signing" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null &&
    openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/sign.pfx" -passout pass:throwaway || exit 1
for version in "$old" "$new"; do
    build_at "$version" || { echo "the build at $version failed"; exit 1; }
    if [ "$version" = "$new" ]; then
        SIGN_PFX="$work/sign.pfx" SIGN_PASS=throwaway VERSION="$version" bash scripts/dist.sh >/dev/null || exit 1
    else
        VERSION="$version" bash scripts/dist.sh >/dev/null || exit 1
    fi
    mkdir -p "$work/$version" && cp build/dist/Korvane-"$version"* "$work/$version/"
done
build_at "$old" >/dev/null  # the build as it was

# A release is whole or absent: each failure leaves in build/dist no artifact of its version, and no stage.
# A tool made to fail part way: its call number n is counted, and it refuses where the condition holds.
fakes="$work/fakes" && mkdir -p "$fakes"
fake() {  # fake TOOL CONDITION
    rm -f "$fakes"/*
    printf '#!/usr/bin/env bash\nn=$(( $(cat "%s/%s.count" 2>/dev/null || echo 0) + 1 )); echo $n > "%s/%s.count"\nif %s; then echo "%s: refused" >&2; exit 1; fi\nexec %s "$@"\n' \
        "$fakes" "$1" "$fakes" "$1" "$2" "$1" "$(command -v "$1")" > "$fakes/$1"
    chmod +x "$fakes/$1"
}
absent() {  # absent VERSION...: nothing of these versions in build/dist, and no stage folder
    for v in "$@"; do ! ls build/dist/Korvane-"$v"[.-]* >/dev/null 2>&1 || return 1; done
    ! ls -d build/dist/stage* >/dev/null 2>&1
}
fails() { ! "$@" >"$work/failed.txt" 2>&1; }
check "VERSION=1.0.0.0042 is refused, saying why" fails env VERSION=1.0.0.0042 make -s dist
check "and names the leading zero" grep -q "leading zero" "$work/failed.txt"
check "and leaves no release of it, read either way" absent 1.0.0.0042 1.0.0.42 1.0.0.34
mkdir -p build/dist && touch "build/dist/Korvane-$old-x86.msi"  # an earlier one of the same version
fake osslsigncode '[ $n -gt 4 ]'
check "signing that stops after four files fails the release" fails env PATH="$fakes:$PATH" SIGN_PFX="$work/sign.pfx" SIGN_PASS=throwaway bash scripts/dist.sh
check "and leaves no artifact of $old, the earlier one gone too, and no stage" absent "$old"
fake wixl '[[ " $* " == *" -a x64 "* ]]'
check "a package that cannot be made fails the release" fails env PATH="$fakes:$PATH" bash scripts/dist.sh
check "and leaves no artifact of $old and no stage" absent "$old"
check "unhindered, the release of $old is whole" bash -c 'bash scripts/dist.sh >/dev/null && cd build/dist && sha256sum --quiet -c "Korvane-$1.sha256"' _ "$old"

# One version everywhere: the packages' ProductVersion and names.
for version in "$old" "$new"; do
    for arch in x86 x64; do
        check "Korvane-$version-$arch.msi has ProductVersion $version" \
            grep -qx "ProductVersion	$version" <(msiinfo export "$work/$version/Korvane-$version-$arch.msi" Property | tr -d '\r')
    done
done

# Signed: every program in the zip and both packages verify against the certificate, and a signed krvn runs.
mkdir -p "$work/signed" && (cd "$work/signed" && unzip -q "../$new/Korvane-$new.zip")
for file in "$work/signed/Korvane-$new"/x*/*.exe "$work/$new"/*.msi; do
    check "$(basename "$(dirname "$file")")/$(basename "$file") verifies" \
        bash -c 'osslsigncode verify -CAfile "$1" -in "$2" 2>&1 | grep -q "^Signature verification: ok"' _ "$work/cert.pem" "$file"
done

export WINEPREFIX="$work/prefix"
wineboot -i >/dev/null 2>&1; wineserver -w
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
programs="$WINEPREFIX/drive_c/Program Files/Korvane" programs86="$WINEPREFIX/drive_c/Program Files (x86)/Korvane"
msi() { wine msiexec "$@" >/dev/null 2>&1; local rc=$?; wineserver -w; return $rc; }
entries() { wine uninstaller --list 2>/dev/null | tr -d '\r' | grep -c '|||Korvane$'; }
shown_version() { grep -A12 '^\[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\{' "$WINEPREFIX/system.reg" |
                  sed -n 's/^"DisplayVersion"="\(.*\)"$/\1/p' | sort -u | tr '\n' ' '; }
installed_krvn() { wine "C:\\Program Files\\Korvane\\krvn.exe" --version 2>/dev/null | tr -d '\r'; }
winpath() { winepath -w "$1" 2>/dev/null; }

check "the x64 package installs silently" msi /i "$(winpath "$work/$old/Korvane-$old-x64.msi")" /qn
check "its files are in C:\\Program Files\\Korvane" bash -c 'cd "$1" && ls Korvane.exe krvn.exe detect.cmd remediate.cmd detect.ps1 remediate.ps1 README.txt >/dev/null' _ "$programs"
check "the installed krvn --version prints $old" test "$(installed_krvn)" = "krvn $old"
check "Add/Remove Programs shows one entry, version $old" test "$(entries) $(shown_version)" = "1 $old "
check "a Start-menu shortcut to Korvane" test -n "$(find "$WINEPREFIX/drive_c" -name Korvane.lnk)"

check "the $new package replaces it in place" msi /i "$(winpath "$work/$new/Korvane-$new-x64.msi")" /qn
check "one entry afterwards, version $new" test "$(entries) $(shown_version)" = "1 $new "
check "the new files: krvn --version prints $new" test "$(installed_krvn)" = "krvn $new"

refused() { ! msi "$@"; }
check "the older package is refused over the newer one" refused /i "$(winpath "$work/$old/Korvane-$old-x64.msi")" /qn
check "and changed nothing" test "$(entries) $(shown_version) $(installed_krvn)" = "1 $new  krvn $new"

check "the x86 package installs" msi /i "$(winpath "$work/$new/Korvane-$new-x86.msi")" /qn
check "into Program Files (x86)" test -f "$programs86/krvn.exe" -a -f "$programs86/Korvane.exe"
shortcut() { find "$WINEPREFIX/drive_c" -name "$1.lnk" | grep -q .; }
check "beside the x64 one, with a shortcut of its own" bash -c "$(declare -f shortcut); shortcut Korvane && shortcut 'Korvane (32-bit)'"

check "the x64 package uninstalls silently" msi /x "$(winpath "$work/$new/Korvane-$new-x64.msi")" /qn
check "the x86 package's shortcut stays" bash -c "$(declare -f shortcut); ! shortcut Korvane && shortcut 'Korvane (32-bit)'"
check "the x86 package uninstalls silently" msi /x "$(winpath "$work/$new/Korvane-$new-x86.msi")" /qn
check "no file, folder or shortcut is left" test -z "$(find "$WINEPREFIX/drive_c" -iname '*korvane*' -o -name krvn.exe)"
check "no entry is left" test "$(entries)" = 0
check "no registry value of Korvane is left" bash -c '! grep -qi "Software\\\\\\\\Korvane" "$1/system.reg"' _ "$WINEPREFIX"

check "INSTALLDIR chooses another folder" msi /i "$(winpath "$work/$new/Korvane-$new-x64.msi")" /qn 'INSTALLDIR=C:\Tools\Korvane'
check "the files are there" test -f "$WINEPREFIX/drive_c/Tools/Korvane/krvn.exe"
check "that installation uninstalls" msi /x "$(winpath "$work/$new/Korvane-$new-x64.msi")" /qn
check "and leaves no file there" test ! -e "$WINEPREFIX/drive_c/Tools/Korvane/krvn.exe"
wineserver -k 2>/dev/null

# The x64 package on 32-bit Windows: refused, nothing installed (where this machine runs 32-bit Wine).
if bash scripts/wine-can-run.sh x86; then
    export WINEPREFIX="$work/prefix32"
    WINEARCH=win32 wineboot -i >/dev/null 2>&1; wineserver -w
    check "the x64 package refuses 32-bit Windows" refused /i "$(winpath "$work/$new/Korvane-$new-x64.msi")" /qn
    check "and installs nothing there" test -z "$(find "$WINEPREFIX/drive_c" -name krvn.exe)"
    wineserver -k 2>/dev/null
    export WINEPREFIX="$work/prefix"
else
    echo "not run: the x64 package on 32-bit Windows (this machine cannot run 32-bit Wine)"
fi

# A signed krvn still runs.
check "a signed krvn.exe runs" test "$(wine "$(winpath "$work/signed/Korvane-$new/x64/krvn.exe")" --version 2>/dev/null | tr -d '\r')" = "krvn $new"
wineserver -k 2>/dev/null
echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
