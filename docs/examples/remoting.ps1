# Installs or updates the QZV OPC UA server for BRQ, or with -Remove removes
# it, on every host named in a list, through PowerShell remoting from an
# administrator's machine. Copies the release's programs and deploy.ps1 into
# C:\Windows\Temp\qzv on each host (no second hop to a file share), runs
# deploy.ps1 there, which runs the installer only where version -Version is
# not installed and appends each run to the host's log, and lists each host
# with its exit code. A host that could not be reached, or whose session
# failed on the way (no session, the copy, a connection lost during the run),
# is listed too, with no exit code and the error; the script then exits with
# 1, as it does when any host's exit code is not 0.
#
#   .\remoting.ps1 -Version A.B.C.D [-Hosts .\hosts.txt]
#   .\remoting.ps1 -Remove [-Hosts .\hosts.txt]
#
# Run it in the folder that holds qzv.ua.brq.install.exe,
# qzv.ua.brq.uninstall.exe and deploy.ps1. PowerShell 5.1 or later here and
# on the hosts (Copy-Item -ToSession).
param(
  [string]$Version = '',
  [string]$Hosts = '.\hosts.txt',
  [switch]$Remove
)

if (-not $Remove -and -not $Version) {
  throw 'Give -Version: the release''s version, as qzv.ua.brq.install.exe --version prints it, such as 1.0.0.0'
}

$folder = 'C:\Windows\Temp\qzv'
$files = '.\qzv.ua.brq.install.exe', '.\qzv.ua.brq.uninstall.exe', '.\deploy.ps1'
$names = @(Get-Content -LiteralPath $Hosts | ForEach-Object { $_.Trim() } | Where-Object { $_ })
# One row for every host of the list: its exit code, or why there is none.
$report = @()
function Add-Row($computer, $exitCode, $problem) {
  $script:report += New-Object PSObject -Property @{ Host = $computer; ExitCode = $exitCode; Error = $problem }
}

$sessions = @()
foreach ($name in $names) {
  $session = $null
  try {
    $session = New-PSSession -ComputerName $name -ErrorAction Stop
    Invoke-Command -Session $session -ErrorAction Stop -ArgumentList $folder -ScriptBlock {
      param($folder)
      $null = New-Item -ItemType Directory -Force -Path $folder
    }
    Copy-Item -Path $files -Destination $folder -ToSession $session -ErrorAction Stop
    $sessions += $session
  } catch {
    Add-Row $name $null $_.Exception.Message
    if ($session) { Remove-PSSession $session }
  }
}

if ($sessions.Count -gt 0) {
  # A job per host, so that each host's result, or failure, is its own.
  $job = Invoke-Command -Session $sessions -ThrottleLimit 32 -AsJob `
    -ArgumentList $folder, $Version, $Remove.IsPresent -ScriptBlock {
      param($folder, $version, $remove)
      $arguments = @('-NoProfile', '-ExecutionPolicy', 'Bypass', '-File', "$folder\deploy.ps1")
      if ($remove) { $arguments += '-Remove' } else { $arguments += @('-Version', $version) }
      # The run's output is in the host's log; only its exit code comes back.
      $null = & powershell.exe @arguments
      New-Object PSObject -Property @{ ExitCode = $LASTEXITCODE }
    }
  $null = Wait-Job $job
  foreach ($child in $job.ChildJobs) {
    $failed = $null
    $result = @(Receive-Job $child -ErrorAction SilentlyContinue -ErrorVariable failed)
    if ($result.Count -gt 0 -and $null -ne $result[-1].ExitCode) {
      Add-Row $child.Location $result[-1].ExitCode $null
    } elseif ($child.JobStateInfo.Reason) {
      Add-Row $child.Location $null $child.JobStateInfo.Reason.Message
    } elseif ($failed) {
      Add-Row $child.Location $null ($failed[0].ToString())
    } else {
      Add-Row $child.Location $null 'no exit code came back'
    }
  }
  Remove-Job $job
  Remove-PSSession $sessions
}

$report | Sort-Object Host | Format-Table Host, ExitCode, Error -AutoSize -Wrap
if (@($report | Where-Object { $_.ExitCode -ne 0 }).Count -gt 0) { exit 1 }
