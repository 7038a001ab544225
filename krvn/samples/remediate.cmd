@echo off
rem Remediation step: deletes the search folders of the default store of the
rem default profile, all of them or those whose name matches PATTERN, and keeps
rem what it did as CSV. Run it in the user's context.
rem   remediate.cmd [PATTERN]   (* and ? wildcards, any case)
rem Exit code: krvn's (0 done, 1 a deletion failed, 2 or 3 not reached).
setlocal
if not defined KRVN set KRVN=%~dp0krvn.exe
set RECORD=%TEMP%\krvn-remediate.csv
if "%~1"=="" (
    "%KRVN%" delete --all --format csv > "%RECORD%"
) else (
    "%KRVN%" delete --name "%~1" --format csv > "%RECORD%"
)
exit /b %ERRORLEVEL%
