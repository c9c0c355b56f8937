@echo off
rem Runs the Tessalune test programs of this kit on Windows, from this folder,
rem where they find the launcher and the sample host, and counts their test
rem cases. Each program's whole output goes to results\<program>.txt. Ends with
rem "N passed, N failed", and exit status 0 only when no case failed.
setlocal EnableExtensions EnableDelayedExpansion
cd /d "%~dp0"

set "host_folder=%ProgramData%\Orvanel"
set "host=%host_folder%\Sonvik.exe"
set "saved_host=%~dp0host-before-the-run\Sonvik.exe"
echo This run creates and removes the host "%host%" (a host already there is put back afterwards)
echo and the folder "C:\users\Public\planted-library"; it leaves both as it found them.
echo.
echo Left out, as they need what this kit cannot carry:
echo   left out: e2e.Executable.IsA32BitGuiProgramWithItsIconGroupAndManifest (reads the file with binutils and icoutils)
echo   left out: e2e.HandOver.MapsNoLibraryBeyondThoseOfAFrameworkFreeLauncher (reads Wine's log of loaded libraries)
echo   left out: installer.* and release.* (need the build tree, msitools and osslsigncode; install the MSI by hand)
echo.

if exist "%saved_host%" (
    echo An earlier run was interrupted: the host it moved aside is in "%saved_host%".
    echo Put it back as "%host%", then run this again.
    exit /b 2
)
rem Whether a move worked is read from the files, not from "||", which Wine's
rem cmd.exe follows after a redirected move even when the move worked.
if exist "%host%" (
    md "%~dp0host-before-the-run" 2>nul
    move /y "%host%" "%saved_host%" >nul
    if exist "%host%" (
        echo The host at "%host%" could not be moved aside: run this as an administrator.
        exit /b 2
    )
)
if not exist "%host_folder%" set "remove_host_folder=1"
if exist results rd /s /q results
md results

set /a passed=0, failed=0
for %%p in (unit_tests differential_tests e2e_tests) do call :run %%p

if exist "%saved_host%" (
    md "%host_folder%" 2>nul
    move /y "%saved_host%" "%host%" >nul
    rd "%~dp0host-before-the-run" 2>nul
)
if exist "%saved_host%" (
    echo The host could not be put back: it is in "%saved_host%"; move it to "%host%".
    set /a failed+=1
)
if defined remove_host_folder rd "%host_folder%" 2>nul

echo.
echo !passed! passed, !failed! failed
if !failed! gtr 0 exit /b 1
if !passed! equ 0 exit /b 1
exit /b 0

rem Runs one program and adds its cases to the counts. GoogleTest ends with
rem "[  PASSED  ] N tests." and, when there are any, "[  SKIPPED ] N tests,
rem listed below:" and "[  FAILED  ] N tests, listed below:". A program that
rem ends with a failure status but no failed case, a crash, counts as one.
:run
"%~1.exe" > "results\%~1.txt" 2>&1
set "status=!errorlevel!"
set /a program_passed=0, program_failed=0, program_skipped=0
find "[  PASSED  ]" < "results\%~1.txt" > results\counts.txt
find "listed below" < "results\%~1.txt" >> results\counts.txt
for /f "usebackq tokens=2,4" %%a in ("results\counts.txt") do (
    if "%%a"=="PASSED" set /a program_passed=%%b
    if "%%a"=="FAILED" set /a program_failed=%%b
    if "%%a"=="SKIPPED" set /a program_skipped=%%b
)
del results\counts.txt
if !status! neq 0 if !program_failed! equ 0 set /a program_failed=1
echo %~1.exe: !program_passed! passed, !program_failed! failed, !program_skipped! skipped  (results\%~1.txt)
set /a passed+=program_passed, failed+=program_failed
exit /b 0
