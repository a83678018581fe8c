# Detection script for Microsoft Intune (Win32 app, custom detection script)
# and Configuration Manager (deployment type, detection method "Use a custom
# script"): writes one line, and so reports the product installed, only where
# the server's file version is the release's and the service QZVOPCUA.BRQ
# exists; writes nothing where it is not. It always exits with 0 and writes
# nothing to standard error: Configuration Manager reads a non-zero exit
# code, or error output alone, as a failed detection, not as "not
# installed", and then installs nothing.
#
# Windows PowerShell 2.0 or later, 32-bit or 64-bit.

# The server's file version in the release you deploy: raise it with each
# release, or the machines that have the release already install it again.
$wanted = [version]'1.0.0.0'

# C:\Program Files also in a 32-bit PowerShell, where ProgramFiles names the
# folder of 32-bit programs.
$programFiles = $env:ProgramW6432
if (-not $programFiles) { $programFiles = $env:ProgramFiles }
$server = Join-Path $programFiles 'Quorvanta\QZV.UA\brq\qzv.ua.brq.exe'
try {
  if (Test-Path -LiteralPath $server -PathType Leaf) {
    $v = [System.Diagnostics.FileVersionInfo]::GetVersionInfo($server)
    $found = New-Object System.Version $v.FileMajorPart, $v.FileMinorPart, $v.FileBuildPart, $v.FilePrivatePart
    if ($found -eq $wanted -and (Get-Service -Name 'QZVOPCUA.BRQ' -ErrorAction SilentlyContinue)) {
      "qzv.ua.brq.exe $found, service QZVOPCUA.BRQ"
    }
  }
} catch {
  # Unreadable counts as not installed: the installer then runs and says why.
}
exit 0
