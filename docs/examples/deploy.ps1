# Installs or updates the QZV OPC UA server for BRQ with qzv.ua.brq.install.exe,
# or removes it with qzv.ua.brq.uninstall.exe (-Remove), and appends the run to
# a log in %ProgramData% (qzv.ua.brq.install.log, qzv.ua.brq.uninstall.log):
# a line with the time and the program's version, the program's whole output
# as it arrives, a line with the time and the exit code. Exits with the
# program's exit code: 0 for a completed run, anything else for a failed one.
#
# The programs are taken from the folder of this script: a package folder, a
# share, a folder a remote session copied them to. With -ServerVersion, the
# installer runs only where the installed server's file version differs from
# that version or the service QZVOPCUA.BRQ is missing; elsewhere one line in
# the log says so and the script exits with 0.
#
#   powershell.exe -NoProfile -ExecutionPolicy Bypass -File deploy.ps1 [-ServerVersion A.B.C.D] [-Remove]
#
# Windows PowerShell 2.0 or later, 32-bit or 64-bit.
param(
  [string]$ServerVersion = '',
  [switch]$Remove
)

$here = Split-Path -Parent $MyInvocation.MyCommand.Path
if ($Remove) { $name = 'qzv.ua.brq.uninstall.exe' } else { $name = 'qzv.ua.brq.install.exe' }
$program = Join-Path $here $name
$log = Join-Path $env:ProgramData ([System.IO.Path]::ChangeExtension($name, '.log'))
# The programs write UTF-8 without a byte order mark; so does this script.
$utf8 = New-Object System.Text.UTF8Encoding $false

function Write-Log([string]$line) {
  $time = Get-Date -Format 'yyyy-MM-dd HH:mm:ss zzz'
  [System.IO.File]::AppendAllText($log, "$time $line`r`n", $utf8)
}

if (-not (Test-Path -LiteralPath $program -PathType Leaf)) {
  Write-Log "$name not found in $here, nothing run"
  exit 1
}
$version = [System.Diagnostics.FileVersionInfo]::GetVersionInfo($program).FileVersion

if ($ServerVersion -and -not $Remove) {
  # Four numbers, as a file version has: 1.0 would never equal 1.0.0.0.
  $wanted = $ServerVersion -as [version]
  if (-not $wanted -or $wanted.Revision -lt 0) {
    Write-Log "$name $version not run: -ServerVersion $ServerVersion is not four numbers such as 1.0.0.0"
    exit 1
  }
  # C:\Program Files also in a 32-bit PowerShell, where ProgramFiles names
  # the folder of 32-bit programs.
  $programFiles = $env:ProgramW6432
  if (-not $programFiles) { $programFiles = $env:ProgramFiles }
  $server = Join-Path $programFiles 'Quorvanta\QZV.UA\brq\qzv.ua.brq.exe'
  $installed = $null
  if (Test-Path -LiteralPath $server -PathType Leaf) {
    $v = [System.Diagnostics.FileVersionInfo]::GetVersionInfo($server)
    $installed = New-Object System.Version $v.FileMajorPart, $v.FileMinorPart, $v.FileBuildPart, $v.FilePrivatePart
  }
  $service = Get-Service -Name 'QZVOPCUA.BRQ' -ErrorAction SilentlyContinue
  if ($installed -eq $wanted -and $service) {
    Write-Log "$name $version not run: the server's version is $installed already"
    exit 0
  }
}

$user = [System.Security.Principal.WindowsIdentity]::GetCurrent().Name
Write-Log "$name $version started by $user on $env:COMPUTERNAME"
$from = (Get-Item -LiteralPath $log).Length
# cmd.exe appends the program's output to the log byte for byte as it comes,
# so that a run ended halfway (a time-out, a shutdown) leaves what it printed.
$start = New-Object System.Diagnostics.ProcessStartInfo
$start.FileName = Join-Path $env:SystemRoot 'System32\cmd.exe'
$start.Arguments = '/d /c ""{0}" >> "{1}" 2>&1"' -f $program, $log
$start.WorkingDirectory = $env:SystemRoot
$start.UseShellExecute = $false
$run = [System.Diagnostics.Process]::Start($start)
$run.WaitForExit()
$code = $run.ExitCode
Write-Log "$name $version exit code $code"

# The run's part of the log, for tools that show a script's output.
$stream = [System.IO.File]::OpenRead($log)
$stream.Position = $from
$reader = New-Object System.IO.StreamReader $stream, $utf8
$reader.ReadToEnd()
$reader.Close()
exit $code
