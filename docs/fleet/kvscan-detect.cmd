@echo off
rem Detection: runs kvscan.exe from this file's folder. Its whole output goes to
rem kvscan-detect.log (the last run's) in %ProgramW6432%\kvclean\logs, or in
rem %ProgramFiles%\kvclean\logs where that is not set: a folder that only
rem administrators can write. It prints kvscan's last line, the summary, and
rem nothing else (Intune keeps 2,048 characters of a script's output).
rem Exit 0: no trace of the family. Exit 1: traces found, the check failed
rem (kvscan's 2), or nothing left but deletions that wait for the next reboot
rem (kvscan's 3): the machine is not clean until it restarts. Either way the
rem remediation should run. A broken check never passes for a clean machine.
setlocal
set "logs=%ProgramW6432%"
if not defined logs set "logs=%ProgramFiles%"
set "logs=%logs%\kvclean\logs"
if not exist "%logs%\" mkdir "%logs%"
set "log=%logs%\kvscan-detect.log"
del "%log%" 2>nul
"%~dp0kvscan.exe" > "%log%" 2>&1
set "scan=%errorlevel%"
set "summary=kvscan-detect: kvscan.exe printed nothing (exit %scan%) into %log%"
for /f "usebackq delims=" %%L in ("%log%") do set "summary=%%L"
setlocal enabledelayedexpansion
echo !summary!
if "%scan%"=="0" exit /b 0
exit /b 1
