@echo off
rem Runs each product's Windows test kit, run-tests.cmd, from a fresh copy of
rem it, as the administrator the job runs as (as-administrator) or as an
rem ordinary user made for the run (as-standard-user, with the kit's
rem as_standard_user.exe), and adds each kit's closing line to the job's
rem summary. Exit status 1 when a kit failed or could not be run.
rem   kits.cmd as-administrator^|as-standard-user RESULTS KITS
rem KITS: the kits unpacked (unpack-kits.cmd), NAME-VERSION-windows-tests\.
setlocal EnableExtensions EnableDelayedExpansion
set "who=%~1"
if not exist "%~2" md "%~2"
set "results=%~f2"
set failed=0
set kits=0
for /d %%k in ("%~3\*-windows-tests") do call :kit "%%~fk"
if !kits! equ 0 (echo kits.cmd: no kit found & exit /b 1)
exit /b !failed!

:kit
set /a kits+=1
set "name=%~nx1"
set "folder=%results%\%name%-%who%"
if exist "%folder%" rd /s /q "%folder%"
xcopy "%~1" "%folder%\" /e /i /q >nul
if errorlevel 1 (echo kits.cmd: %~1 could not be copied & set failed=1 & exit /b 0)
pushd "%folder%"
if "%who%"=="as-standard-user" (
    rem The ordinary user reads the kit and writes its results here.
    "%SystemRoot%\System32\icacls.exe" . /grant *S-1-5-32-545:^(OI^)^(CI^)M /q >nul
    as_standard_user.exe "%SystemRoot%\System32\cmd.exe" /d /c "run-tests.cmd > run-tests.txt 2>&1"
) else (
    "%SystemRoot%\System32\cmd.exe" /d /c "run-tests.cmd > run-tests.txt 2>&1"
)
set status=!errorlevel!
popd
type "%folder%\run-tests.txt"
set "closing=no closing line"
for /f "delims=" %%l in ('findstr /r /c:"^[0-9]* passed, [0-9]* failed, [0-9]* skipped" "%folder%\run-tests.txt"') do set "closing=%%l"
if defined GITHUB_STEP_SUMMARY >>"%GITHUB_STEP_SUMMARY%" echo - %name%, %who%: !closing!, exit status !status!
if !status! neq 0 set failed=1
exit /b 0
