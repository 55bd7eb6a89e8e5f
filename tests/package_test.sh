#!/usr/bin/env bash
# Makes the Debian package from a build and checks what it holds, what it declares and that its
# programs run from where it puts them.   package_test.sh BUILD_DIR
set -euo pipefail
build=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack -G DEB"; }
arch=$(dpkg --print-architecture)
deb="$work/out/orvantis_1.4_${arch}.deb"
[ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$work/out")"

app=net.quellmar.Orvantis
dpkg-deb -c "$deb" >"$work/listing"
awk '{print $6}' "$work/listing" >"$work/files"
for file in ./opt/orvantis/orvantis ./opt/orvantis/orvantis-rank ./opt/orvantis/orvantis-serve \
            ./usr/bin/orvantis ./usr/bin/orvantis-rank ./usr/bin/orvantis-serve \
            ./usr/share/applications/$app.desktop ./usr/share/metainfo/$app.metainfo.xml \
            ./usr/share/man/man1/orvantis.1.gz ./usr/share/man/man1/orvantis-rank.1.gz \
            ./usr/share/man/man1/orvantis-serve.1.gz \
            ./usr/share/doc/orvantis/copyright ./usr/share/doc/orvantis/changelog.gz \
            ./usr/share/icons/hicolor/{16x16,24x24,32x32,48x48,64x64,128x128,256x256}/apps/orvantis.png \
            ./usr/share/icons/hicolor/scalable/apps/orvantis.svg \
            ./lib/systemd/system/orvantis-serve.service ./etc/default/orvantis-serve; do
  grep -qx "$file" "$work/files" || fail "the package lacks $file"
done
grep -q " ./usr/bin/orvantis-rank -> /opt/orvantis/orvantis-rank$" "$work/listing" ||
  fail "/usr/bin/orvantis-rank is no link to /opt/orvantis/orvantis-rank"

dpkg-deb -I "$deb" >"$work/control"
grep -q "^ Package: orvantis$" "$work/control" || fail "Package field"
grep -q "^ Version: 1.4$" "$work/control" || fail "Version field"
grep -q "^ Architecture: $arch$" "$work/control" || fail "Architecture field"
depends=$(grep "^ Depends:" "$work/control") || fail "no Depends field"
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libmicrohttpd12; do
  echo "$depends" | grep -q "\b$library\b" || fail "Depends lacks $library: $depends"
done

# The folder's setting is the admin's: an upgrade keeps it. The service is installed, not enabled.
dpkg-deb --info "$deb" conffiles | grep -qx /etc/default/orvantis-serve || fail "conffiles lacks /etc/default/orvantis-serve"

dpkg-deb -x "$deb" "$work/root"
grep -q "^ExecStart=/opt/orvantis/orvantis-serve " "$work/root/lib/systemd/system/orvantis-serve.service" ||
  fail "the service does not run /opt/orvantis/orvantis-serve"
desktop-file-validate "$work/root/usr/share/applications/$app.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/$app.metainfo.xml" || fail "appstreamcli validate"
grep -q "^Exec=/opt/orvantis/orvantis$" "$work/root/usr/share/applications/$app.desktop" || fail "Exec"
zcat "$work/root/usr/share/man/man1/orvantis-rank.1.gz" | grep -q '^\.TH ORVANTIS-RANK "1"' || fail "manual page"
zcat "$work/root/usr/share/man/man1/orvantis-rank.1.gz" | grep -qF -- '\-\-format' || fail "manual page lacks --format"
for page in orvantis orvantis-rank orvantis-serve; do
  for section in '"EXIT STATUS"' FILES EXAMPLES; do
    zcat "$work/root/usr/share/man/man1/$page.1.gz" | grep -qx ".SH $section" || fail "$page.1 lacks $section"
  done
done

# lintian: no error but those its overrides file names as meant; warnings listed.
if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 || true
  cat "$work/lintian"
  grep -q "^E: " "$work/lintian" && fail "lintian reports errors"
else
  echo "lintian is not installed: the package is not linted"
fi

# The console program, from where the package puts it, on an accounts folder beside it.
programs="$work/root/opt/orvantis"
mkdir "$programs/accounts"
printf '[GENERAL]\nLogin=alice\n[CHAR2]\nName=Rogue\nLevel=42\n' >"$programs/accounts/a.ini"
[ "$("$programs/orvantis-rank")" = "$(printf 'alice\t42\t2\tRogue')" ] || fail "orvantis-rank from the package"
# Through a link elsewhere, as from /usr/bin: still the accounts beside the real program.
ln -s "$programs/orvantis-rank" "$work/linked-rank"
[ "$("$work/linked-rank")" = "$(printf 'alice\t42\t2\tRogue')" ] || fail "orvantis-rank through a link"
# The server from where the package puts it, serving that folder, until it is stopped.
"$programs/orvantis-serve" --listen 127.0.0.1:0 2>"$work/serve.err" &
server=$!
for _ in $(seq 100); do grep -q " accounts from " "$work/serve.err" && break; sleep 0.1; done
port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/serve.err")
exec 3<>"/dev/tcp/127.0.0.1/$port" || fail "orvantis-serve from the package does not listen"
printf 'GET /ranking.tsv HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n' >&3
tail -n 1 <&3 | grep -qx "$(printf 'alice\t42\t2\tRogue')" || fail "orvantis-serve from the package"
exec 3<&-
kill -TERM "$server" && wait "$server" || fail "orvantis-serve does not end with 0 on SIGTERM"
echo "package: $(basename "$deb") passed"
