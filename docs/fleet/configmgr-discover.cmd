@echo off
rem Configuration Manager discovery: prints one line, kvscan's last line, as
rem the setting's value. The machine is compliant when the value equals
rem "kvscan: no trace of the family found". Exit 0 unless kvscan cannot run.
setlocal
set "summary="
for /f "usebackq delims=" %%L in (`"%~dp0kvscan.exe"`) do set "summary=%%L"
if not defined summary exit /b 1
setlocal enabledelayedexpansion
echo !summary!
exit /b 0
