@echo off
rem Remediation for a logon script or a run by hand: deletes the search folders
rem of the default store of the default profile, all of them or those whose name
rem matches PATTERN, keeps what it did as CSV and appends a record to the audit
rem log. Run it in the user's context.
rem   remediate.cmd [PATTERN]   (* and ? wildcards, any case)
rem Exit code: krvn's (0 done, 1 a deletion failed, 2 to 5 not done, see krvn --help).
setlocal
if not defined KRVN set KRVN=%~dp0krvn.exe
set RECORD=%TEMP%\krvn-remediate.csv
set LOG=%LOCALAPPDATA%\Korvane\krvn-audit.log
if "%~1"=="" (
    "%KRVN%" delete --all --log "%LOG%" --format csv > "%RECORD%"
) else (
    "%KRVN%" delete --name "%~1" --log "%LOG%" --format csv > "%RECORD%"
)
exit /b %ERRORLEVEL%
