@echo off
rem Group Policy computer startup script: kvclean.exe and kvscan.exe lie beside
rem it in the policy's Startup folder, with kvclean-remediate.cmd. Checks the
rem machine; only when kvscan finds traces or its check fails does the
rem remediation run. Every start keeps its own log in
rem %ProgramW6432%\kvclean\logs, which only administrators can write:
rem gpo-startup-<date>-<time>.log (-2, -3, ... after a name already taken),
rem kvscan's output, then, when it ran, the remediation's (kvclean's first line
rem names kvclean's own log of the cleanup). It never restarts the machine.
rem Exit code: 0 no trace; 3010 when deletions wait for the next reboot (kvscan
rem said so, or the remediation did); else the remediation's.
setlocal
set "logs=%ProgramW6432%"
if not defined logs set "logs=%ProgramFiles%"
set "logs=%logs%\kvclean\logs"
if not exist "%logs%\" mkdir "%logs%"
set "name=%DATE%-%TIME%"
set "name=%name:/=-%"
set "name=%name::=-%"
set "name=%name:.=-%"
set "name=%name:,=-%"
set "name=%logs%\gpo-startup-%name: =%"
set "log=%name%.log"
set "taken=1"
:name
if not exist "%log%" goto check
set /a taken+=1
set "log=%name%-%taken%.log"
goto name
:check
"%~dp0kvscan.exe" > "%log%" 2>&1
if "%errorlevel%"=="0" exit /b 0
if "%errorlevel%"=="3" exit /b 3010
call "%~dp0kvclean-remediate.cmd" >> "%log%" 2>&1
exit /b %errorlevel%
