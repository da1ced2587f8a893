@echo off
rem Remediation: runs kvclean.exe from this file's folder as from a command line
rem (no dialogs, no reboot offer). Its output passes through; the last line
rem says what it removed and what waits for the reboot. The exit code is
rem kvclean's: 0 when every operation succeeded.
"%~dp0kvclean.exe" clean
exit /b %errorlevel%
