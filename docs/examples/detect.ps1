# Detection script for Microsoft Intune (Win32 app, custom detection script)
# and Configuration Manager (deployment type, detection method "Use a custom
# script"): writes one line, and so reports the product installed, only where
# all three hold:
#
#   - the product's entry under Programs and Features, the key
#     HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quorvanta.QZV.UA.brq
#     of the 64-bit registry, has a DisplayVersion equal to the release's
#     version;
#   - the service QZVOPCUA.BRQ exists;
#   - there is no record qzv.ua.brq.run in the installation directory: a run
#     that ended before its work was done (killed, failed, cancelled) leaves
#     it, and so does a run that replaced the files but did not write the
#     entry; the next run of the installer completes what it left.
#
# Writes nothing where they do not. It always exits with 0 and writes nothing
# to standard error: Configuration Manager reads a non-zero exit code, or error
# output alone, as a failed detection, not as "not installed", and then
# installs nothing.
#
# Windows PowerShell 2.0 or later, 32-bit or 64-bit.

# The release's version, as qzv.ua.brq.install.exe --version prints it and as
# the installer writes it into DisplayVersion: raise it with each release, or
# the machines that have the release already install it again.
$wanted = '1.0.0.0'

# The entry's DisplayVersion, or $null. The entry is in the 64-bit registry. A
# 32-bit PowerShell sees the 32-bit view (Wow6432Node) through its registry
# provider, and .NET's way to the other view, RegistryKey.OpenBaseKey, needs
# .NET 4, which PowerShell 2.0 does not load. So reg.exe reads it, the 64-bit
# reg.exe: a 32-bit process reaches it as %SystemRoot%\Sysnative\reg.exe (the
# file system redirector's alias for the real System32, Windows Vista and
# later), a 64-bit process, which has no Sysnative, as System32\reg.exe. Both
# of its outputs are read here, so that its error text for a missing key or
# value never reaches this script's standard error; both are a line or two,
# so reading one after the other cannot stall it.
function Get-DisplayVersion {
  $reg = Join-Path $env:SystemRoot 'Sysnative\reg.exe'
  if (-not (Test-Path -LiteralPath $reg -PathType Leaf)) { $reg = Join-Path $env:SystemRoot 'System32\reg.exe' }
  $start = New-Object System.Diagnostics.ProcessStartInfo
  $start.FileName = $reg
  $start.Arguments = 'query HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quorvanta.QZV.UA.brq /v DisplayVersion'
  $start.UseShellExecute = $false
  $start.CreateNoWindow = $true
  $start.RedirectStandardOutput = $true
  $start.RedirectStandardError = $true
  $query = [System.Diagnostics.Process]::Start($start)
  $text = $query.StandardOutput.ReadToEnd()
  $null = $query.StandardError.ReadToEnd()
  $query.WaitForExit()
  if ($query.ExitCode -ne 0) { return $null }
  # "    DisplayVersion    REG_SZ    1.0.0.0"; the type names are not translated.
  foreach ($line in ($text -split "`r?`n")) {
    if ($line -match '^\s+DisplayVersion\s+REG_SZ\s+(.*?)\s*$') { return $matches[1] }
  }
  return $null
}

# C:\Program Files also in a 32-bit PowerShell, where ProgramFiles names the
# folder of 32-bit programs.
$programFiles = $env:ProgramW6432
if (-not $programFiles) { $programFiles = $env:ProgramFiles }
$record = Join-Path $programFiles 'Quorvanta\QZV.UA\brq\qzv.ua.brq.run'
try {
  $found = Get-DisplayVersion
  if ($found -eq $wanted -and
      (Get-Service -Name 'QZVOPCUA.BRQ' -ErrorAction SilentlyContinue) -and
      -not (Test-Path -LiteralPath $record)) {
    "Quorvanta.QZV.UA.brq $found, service QZVOPCUA.BRQ, no unfinished run"
  }
} catch {
  # Unreadable counts as not installed: the installer then runs and says why.
}
exit 0
