# Installs or updates the QZV OPC UA server for BRQ with qzv.ua.brq.install.exe,
# or removes it with qzv.ua.brq.uninstall.exe (-Remove), and appends the run to
# a log in %ProgramData% (qzv.ua.brq.install.log, qzv.ua.brq.uninstall.log):
# a line with the time and the program's version, the program's whole output
# as it arrives, a line with the time and the exit code. Exits with the
# program's exit code: 0 for a completed run, anything else for a failed one,
# and 1618 where the program exited with 1 because another installation held
# the machine for 10 minutes (see below).
#
# The programs are taken from the folder of this script: a package folder, a
# share, a folder a remote session copied them to. With -Version, the
# installer runs only where that version is not installed: it runs unless the
# product's entry under Programs and Features has that DisplayVersion, the
# service QZVOPCUA.BRQ exists and no record qzv.ua.brq.run of an unfinished
# run is in the installation directory; elsewhere one line in the log says so
# and the script exits with 0. The version is the release's, as
# qzv.ua.brq.install.exe --version prints it, four numbers such as 1.0.0.0.
#
#   powershell.exe -NoProfile -ExecutionPolicy Bypass -File deploy.ps1 [-Version A.B.C.D] [-Remove]
#
# Windows PowerShell 2.0 or later, 32-bit or 64-bit.
param(
  [string]$Version = '',
  [switch]$Remove
)

$here = Split-Path -Parent $MyInvocation.MyCommand.Path
if ($Remove) { $name = 'qzv.ua.brq.uninstall.exe' } else { $name = 'qzv.ua.brq.install.exe' }
$program = Join-Path $here $name
$log = Join-Path $env:ProgramData ([System.IO.Path]::ChangeExtension($name, '.log'))
# The programs write UTF-8 without a byte order mark; so does this script.
$utf8 = New-Object System.Text.UTF8Encoding $false

# Appends a line to the log. While another run waits for the installation
# lock, its cmd.exe holds the log open for that run's output; so the log is
# opened sharing reading and writing, and for appending only (AppendData), so
# that each write lands at the end of the file. A moment's conflict with
# another program (a virus scan, say) is tried again, for up to 5 seconds;
# after that the line is left out, with a message on standard error.
function Write-Log([string]$line) {
  $time = Get-Date -Format 'yyyy-MM-dd HH:mm:ss zzz'
  $bytes = $utf8.GetBytes("$time $line`r`n")
  for ($try = 1; ; $try++) {
    try {
      $stream = New-Object System.IO.FileStream -ArgumentList $log, ([System.IO.FileMode]::Append),
        ([System.Security.AccessControl.FileSystemRights]::AppendData), ([System.IO.FileShare]::ReadWrite),
        4096, ([System.IO.FileOptions]::None) -ErrorAction Stop
      try { $stream.Write($bytes, 0, $bytes.Length) } finally { $stream.Close() }
      return
    } catch {
      # The run matters more than its log line: give the line up, say so.
      if ($try -ge 20) {
        [Console]::Error.WriteLine("Cannot append to ${log}: $($_.Exception.Message)")
        return
      }
      Start-Sleep -Milliseconds 250
    }
  }
}

# The log from byte $from on, read while cmd.exe of another run may hold it.
function Read-Log([long]$from) {
  $stream = New-Object System.IO.FileStream -ArgumentList $log, ([System.IO.FileMode]::Open),
    ([System.IO.FileAccess]::Read), ([System.IO.FileShare]::ReadWrite)
  try {
    $stream.Position = $from
    $reader = New-Object System.IO.StreamReader -ArgumentList $stream, $utf8
    $reader.ReadToEnd()
  } finally {
    $stream.Close()
  }
}

# The entry's DisplayVersion, or $null, from the 64-bit registry also in a
# 32-bit PowerShell: see detect.ps1, which reads it the same way.
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
  foreach ($line in ($text -split "`r?`n")) {
    if ($line -match '^\s+DisplayVersion\s+REG_SZ\s+(.*?)\s*$') { return $matches[1] }
  }
  return $null
}

if (-not (Test-Path -LiteralPath $program -PathType Leaf)) {
  Write-Log "$name not found in $here, nothing run"
  exit 1
}
$programVersion = [System.Diagnostics.FileVersionInfo]::GetVersionInfo($program).FileVersion

if ($Version -and -not $Remove) {
  # Four numbers, as the installer writes them: 1.0 would never equal 1.0.0.0.
  $wanted = $Version -as [version]
  if (-not $wanted -or $wanted.Revision -lt 0) {
    Write-Log "$name $programVersion not run: -Version $Version is not four numbers such as 1.0.0.0"
    exit 1
  }
  # C:\Program Files also in a 32-bit PowerShell, where ProgramFiles names
  # the folder of 32-bit programs.
  $programFiles = $env:ProgramW6432
  if (-not $programFiles) { $programFiles = $env:ProgramFiles }
  $record = Join-Path $programFiles 'Quorvanta\QZV.UA\brq\qzv.ua.brq.run'
  $installed = Get-DisplayVersion
  $service = Get-Service -Name 'QZVOPCUA.BRQ' -ErrorAction SilentlyContinue
  if ($installed -eq $wanted.ToString() -and $service -and -not (Test-Path -LiteralPath $record)) {
    Write-Log "$name $programVersion not run: $installed is installed already"
    exit 0
  }
}

$user = [System.Security.Principal.WindowsIdentity]::GetCurrent().Name
Write-Log "$name $programVersion started by $user on $env:COMPUTERNAME"
$from = 0
if (Test-Path -LiteralPath $log) { $from = (Get-Item -LiteralPath $log).Length }
# cmd.exe appends the program's output to the log byte for byte as it comes,
# so that a run ended halfway (killed, a shutdown) leaves what it printed.
$start = New-Object System.Diagnostics.ProcessStartInfo
$start.FileName = Join-Path $env:SystemRoot 'System32\cmd.exe'
$start.Arguments = '/d /c ""{0}" >> "{1}" 2>&1"' -f $program, $log
$start.WorkingDirectory = $env:SystemRoot
$start.UseShellExecute = $false
$run = [System.Diagnostics.Process]::Start($start)
$run.WaitForExit()
$code = $run.ExitCode

# Exit code 1 with the lines "Failed to lock the installation" and, right
# after it, Windows' text of error 1618 (ERROR_INSTALL_ALREADY_RUNNING): the
# run waited 10 minutes for another installation and gave up, changing
# nothing. Returned as 1618, which Intune and Configuration Manager retry by
# default. The text is the system's, in its language; Win32Exception gets it
# the same way (and may drop its final full stop, so both are compared
# without one).
# (The lock line that goes on ": its mutex belongs to an account that is not
# an administrator" is another line, and stays 1.) Two runs at the same time
# write into the same log, so what is read here may hold lines of the other:
# a run that got the lock printed its "Destination:" line, and is never
# taken for one that gave up waiting, even when another run's lock lines
# follow its own.
$reported = $code
if ($code -eq 1) {
  $busy = (New-Object System.ComponentModel.Win32Exception 1618).Message.Trim().TrimEnd([char]'.').Trim()
  $lines = (Read-Log $from) -split "`r?`n"
  if (@($lines | Where-Object { $_ -like 'Destination: *' }).Count -gt 0) { $lines = @() }
  for ($i = 0; $i -lt $lines.Count - 1; $i++) {
    if ($lines[$i].Trim() -eq 'Failed to lock the installation' -and
        $lines[$i + 1].Trim().TrimEnd([char]'.').Trim() -eq $busy) {
      $reported = 1618
      break
    }
  }
}
if ($reported -eq $code) {
  Write-Log "$name $programVersion exit code $code"
} else {
  Write-Log "$name $programVersion exit code $code, returned as ${reported}: another installation held the lock"
}

# The run's part of the log, for tools that show a script's output.
Read-Log $from
exit $reported
