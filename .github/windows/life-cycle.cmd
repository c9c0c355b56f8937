@echo off
rem Each product's MSI through its life cycle with Windows' own msiexec, by
rem msi_life_cycle.exe of the product's unpacked test kit: its release, with
rem its older and signed releases from OTHERS\NAME\
rem (tests/installer/make-other-releases.sh). Verbose logs in
rem RESULTS\NAME-life-cycle\, the summary added to the job's, or without a job
rem to RESULTS\life-cycle.md. Exit status 1 when a product's life cycle was
rem not as it must be, or none was found.
rem   life-cycle.cmd RESULTS OTHERS KITS RELEASES...
rem RELEASES: where the build left the products' release folders, NAME\.
setlocal EnableExtensions EnableDelayedExpansion
if not exist "%~1" md "%~1"
set "results=%~f1"
set "others=%~f2"
set "kits=%~f3"
set "summary=%GITHUB_STEP_SUMMARY%"
if not defined summary set "summary=%results%\life-cycle.md"
set failed=0
set products=0
:folders
if "%~4"=="" goto done
rem Listed by dir, as Wine's cmd.exe (8.0), which the suite runs this with,
rem matches no quoted pattern in a for.
for /f "delims=" %%p in ('dir /b /ad "%~4"') do call :product "%~f4\%%p"
shift /4
goto folders
:done
if !products! equ 0 (echo life-cycle.cmd: no release found & exit /b 1)
exit /b !failed!

:product
set /a products+=1
set "name=%~nx1"
set "release="
for /f "delims=" %%m in ('dir /b "%~1\%name%-*.msi"') do set "release=%%~nm"
set "work=%results%\%name%-life-cycle"
if exist "%work%" rd /s /q "%work%"
md "%work%"
"%kits%\!release!-windows-tests\msi_life_cycle.exe" "%~1\!release!.msi" "%others%\%name%\older\%name%\%name%-0.9.0.msi" "%others%\%name%\signed\%name%\!release!.msi" "%work%\logs" "%summary%" >"%work%\life-cycle.txt" 2>&1
set status=!errorlevel!
type "%work%\life-cycle.txt"
if !status! neq 0 (echo life-cycle.cmd: %name%'s life cycle: exit status !status! & set failed=1)
exit /b 0
