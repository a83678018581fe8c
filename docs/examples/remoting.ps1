# Installs or updates the QZV OPC UA server for BRQ, or with -Remove removes
# it, on every host named in a list, through PowerShell remoting from an
# administrator's machine. Copies the release's programs and deploy.ps1 into
# C:\Windows\Temp\qzv on each host (no second hop to a file share), runs
# deploy.ps1 there, which runs the installer only where the server's version
# differs from -ServerVersion and appends each run to the host's log, and
# lists each host's exit code.
#
#   .\remoting.ps1 -ServerVersion A.B.C.D [-Hosts .\hosts.txt]
#   .\remoting.ps1 -Remove [-Hosts .\hosts.txt]
#
# Run it in the folder that holds qzv.ua.brq.install.exe,
# qzv.ua.brq.uninstall.exe and deploy.ps1. PowerShell 5.1 or later here and
# on the hosts (Copy-Item -ToSession).
param(
  [string]$ServerVersion = '',
  [string]$Hosts = '.\hosts.txt',
  [switch]$Remove
)

if (-not $Remove -and -not $ServerVersion) {
  throw 'Give -ServerVersion: the server''s file version in this release, such as 1.0.0.0'
}

$folder = 'C:\Windows\Temp\qzv'
$sessions = New-PSSession -ComputerName (Get-Content -LiteralPath $Hosts)
foreach ($session in $sessions) {
  Invoke-Command -Session $session -ArgumentList $folder -ScriptBlock {
    param($folder)
    $null = New-Item -ItemType Directory -Force -Path $folder
  }
  Copy-Item -Path .\qzv.ua.brq.install.exe, .\qzv.ua.brq.uninstall.exe, .\deploy.ps1 `
    -Destination $folder -ToSession $session
}

$results = Invoke-Command -Session $sessions -ThrottleLimit 32 `
  -ArgumentList $folder, $ServerVersion, $Remove.IsPresent -ScriptBlock {
    param($folder, $serverVersion, $remove)
    $arguments = @('-NoProfile', '-ExecutionPolicy', 'Bypass', '-File', "$folder\deploy.ps1")
    if ($remove) { $arguments += '-Remove' } else { $arguments += @('-ServerVersion', $serverVersion) }
    # The run's output is in the host's log; only its exit code comes back.
    $null = & powershell.exe @arguments
    New-Object PSObject -Property @{ ExitCode = $LASTEXITCODE }
  }
$results | Sort-Object ExitCode | Format-Table PSComputerName, ExitCode
Remove-PSSession $sessions
