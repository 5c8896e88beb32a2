#!/usr/bin/env bash
# Makes fixtures/probe.msi in the Windows build's program folder ($1): a small installer package, made
# with wixl (Debian package wixl, of msitools), that installs installed.txt into the folder INSTALLDIR.
# Product and component codes are new at every run, so that an installation left in the Wine prefix by an
# earlier run never stands in for this one.
set -euo pipefail
bin=$1
command -v wixl >/dev/null || { echo "wixl is missing (Debian package wixl)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$bin/fixtures"
code() { python3 -c 'import uuid; print(str(uuid.uuid4()).upper())'; }
printf 'installed by the package\r\n' > "$work/installed.txt"
cat > "$work/probe.wxs" <<WXS
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$(code)" Name="aksfx test package" Language="1033" Version="1.0.0" Manufacturer="aksfx tests"
           UpgradeCode="$(code)">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="payload.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="INSTALLDIR" Name="AksfxTestPackage">
        <Component Id="Installed" Guid="$(code)">
          <File Id="InstalledText" Source="installed.txt"/>
        </Component>
      </Directory>
    </Directory>
    <Feature Id="Everything" Level="1">
      <ComponentRef Id="Installed"/>
    </Feature>
  </Product>
</Wix>
WXS
(cd "$work" && wixl -o probe.msi probe.wxs)
cp "$work/probe.msi" "$bin/fixtures/probe.msi"
echo "package: $bin/fixtures/probe.msi"
