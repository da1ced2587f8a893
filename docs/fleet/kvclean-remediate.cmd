@echo off
rem Remediation: runs kvclean.exe from this file's folder as from a command line
rem (no dialogs, no reboot offer). Its output passes through; the last line
rem says what it removed and what waits for the reboot. Then kvscan.exe checks
rem the machine; its output goes to kvclean-remediate.log in
rem %ProgramW6432%\kvclean\logs (the last run's; only administrators can write
rem there). Exit 3010 ("done; a restart completes it") when kvscan finds
rem nothing left but deletions that wait for the next reboot, also when kvclean
rem failed in part: the restart is what the machine needs next, and kvclean's
rem failures are in its last line and its own log. Otherwise kvclean's exit
rem code: 0 when every operation succeeded.
setlocal
"%~dp0kvclean.exe" clean
set "clean=%errorlevel%"
set "logs=%ProgramW6432%"
if not defined logs set "logs=%ProgramFiles%"
set "logs=%logs%\kvclean\logs"
if not exist "%logs%\" mkdir "%logs%"
"%~dp0kvscan.exe" > "%logs%\kvclean-remediate.log" 2>&1
if "%errorlevel%"=="3" exit /b 3010
exit /b %clean%
