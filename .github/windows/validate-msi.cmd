@echo off
rem Windows Installer's own validation (ICE) of each release MSI, by WiX's
rem "wix msi validate", the .NET tool .config/dotnet-tools.json pins. The one
rem finding allowed is the warning ICE61: a build of the same version replaces
rem the one installed (docs/release.md, "Windows Installer's codes"). Each
rem report in RESULTS\NAME-VERSION-ice.txt; a line each in the job's summary.
rem Exit status 1 when a report holds anything else or the tool failed.
rem   validate-msi.cmd RESULTS RELEASES...
setlocal EnableExtensions EnableDelayedExpansion
if not exist "%~1" md "%~1"
set "results=%~f1"
rem The tool is built for an older .NET than an image may have.
set DOTNET_ROLL_FORWARD=Major
set DOTNET_CLI_TELEMETRY_OPTOUT=1
set DOTNET_NOLOGO=1
pushd "%~dp0..\.."
dotnet tool restore
set status=!errorlevel!
popd
if !status! neq 0 (echo validate-msi.cmd: the pinned wix tool could not be restored & exit /b 1)
set failed=0
set packages=0
:folders
if "%~2"=="" goto done
for /d %%p in ("%~2\*") do for %%m in ("%%~fp\*.msi") do call :validate "%%~fm"
shift /2
goto folders
:done
if !packages! equ 0 (echo validate-msi.cmd: no MSI found & exit /b 1)
exit /b !failed!

:validate
set /a packages+=1
set "report=%results%\%~n1-ice.txt"
pushd "%~dp0..\.."
dotnet tool run wix msi validate "%~1" >"%report%" 2>&1
set status=!errorlevel!
popd
type "%report%"
findstr /i /r /c:"error" /c:"warning" "%report%" | findstr /v /r /c:"warning WIX[0-9]*: ICE61:" >"%report%.unexpected"
set allowed=0
for /f %%c in ('findstr /r /c:"warning WIX[0-9]*: ICE61:" "%report%" ^| find /c /v ""') do set allowed=%%c
set "verdict=only the expected ICE61 warning (!allowed!)"
for %%u in ("%report%.unexpected") do if %%~zu gtr 0 (set "verdict=unexpected findings" & set failed=1)
if !status! neq 0 (set "verdict=!verdict!, exit status !status!" & set failed=1)
del "%report%.unexpected"
if defined GITHUB_STEP_SUMMARY >>"%GITHUB_STEP_SUMMARY%" echo - ICE validation of %~nx1: !verdict!
exit /b 0
