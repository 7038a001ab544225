@echo off
rem Detection for a logon script or a run by hand. Run it in the user's context:
rem MAPI profiles are per user.
rem   detect.cmd [THRESHOLD]   (default 100)
rem Exit code 1 when the default store of the default profile holds more search
rem folders than THRESHOLD (the remediation should run), 0 when it does not, and
rem krvn's own exit code (2, 3 or 4) when the store could not be counted.
setlocal
set THRESHOLD=%~1
if "%THRESHOLD%"=="" set THRESHOLD=100
if not defined KRVN set KRVN=%~dp0krvn.exe
"%KRVN%" check --over %THRESHOLD%
exit /b %ERRORLEVEL%
