@echo off
rem Detection step of a remediation for a management system (Intune, Configuration
rem Manager, a logon script). Run it in the user's context: MAPI profiles are per user.
rem   detect.cmd [THRESHOLD]   (default 100)
rem Exit code 1 when the default store of the default profile holds more search
rem folders than THRESHOLD (the remediation should run), 0 when it does not, and
rem krvn's own exit code (2 or 3) when the store could not be listed.
setlocal
set THRESHOLD=%~1
if "%THRESHOLD%"=="" set THRESHOLD=100
if not defined KRVN set KRVN=%~dp0krvn.exe
set LIST=%TEMP%\krvn-detect.json
"%KRVN%" list --format json > "%LIST%"
if errorlevel 1 exit /b %ERRORLEVEL%
rem krvn's JSON is "[", one line per search folder, "]" (or "[]" when there is none).
set LINES=0
for /f "usebackq delims=" %%l in ("%LIST%") do set /a LINES+=1
set /a COUNT=LINES-2
if %COUNT% LSS 0 set COUNT=0
echo %COUNT% search folders, threshold %THRESHOLD%
if %COUNT% GTR %THRESHOLD% exit /b 1
exit /b 0
