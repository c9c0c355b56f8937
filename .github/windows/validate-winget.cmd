@echo off
rem winget's own validation of each release's manifest folder, NAME-VERSION.winget,
rem where the image has winget; a line each in the job's summary, its output in
rem RESULTS\NAME-VERSION-winget.txt. Exit status 1 when a manifest is refused.
rem   validate-winget.cmd RESULTS RELEASES...
setlocal EnableExtensions EnableDelayedExpansion
if not exist "%~1" md "%~1"
set "results=%~f1"
where winget >nul 2>&1
if errorlevel 1 (
    echo This image has no winget: the manifests are not validated here.
    if defined GITHUB_STEP_SUMMARY >>"%GITHUB_STEP_SUMMARY%" echo - winget validate: skipped, this image has no winget
    exit /b 0
)
set failed=0
set manifests=0
:folders
if "%~2"=="" goto done
for /d %%p in ("%~2\*") do for /d %%w in ("%%~fp\*.winget") do call :validate "%%~fw"
shift /2
goto folders
:done
if !manifests! equ 0 (echo validate-winget.cmd: no manifest found & exit /b 1)
exit /b !failed!

:validate
set /a manifests+=1
set "report=%results%\%~n1-winget.txt"
winget validate --manifest "%~1" >"%report%" 2>&1
set status=!errorlevel!
type "%report%"
set "verdict=valid"
if !status! neq 0 (set "verdict=refused, exit status !status!" & set failed=1)
if defined GITHUB_STEP_SUMMARY >>"%GITHUB_STEP_SUMMARY%" echo - winget validate %~nx1: !verdict!
exit /b 0
