@echo off
rem Runs the test programs of this kit on Windows, from this folder,
rem where they find the launcher and the sample host, and counts their test
rem cases. Each program's whole output goes to results\<program>.txt. Ends with
rem "N passed, N failed, N skipped", and exit status 0 only when no case failed.
setlocal EnableExtensions EnableDelayedExpansion
cd /d "%~dp0"

set "host_folder=%ProgramData%\Orvanel"
set "host=%host_folder%\Sonvik.exe"
set "saved_name=Orvanel-before-the-launcher-tests"
set "saved_folder=%ProgramData%\%saved_name%"
echo This run creates and removes the host "%host%", the folders "C:\users\Public\planted-library"
echo and "C:\users\Public\Orvanel-junction-target", and, run elevated, for the cases of the host folder's
echo recipe make-host-folder.ps1: an ordinary user account "orvanel-..." made for the run, the folders
echo "%host_folder%-squatter" and "%host_folder%-squatter-target" it makes, and what the recipe
echo sets aside as "%host_folder%-set-aside-GUID".
echo A folder "%host_folder%" already there is renamed "%saved_name%" for the run
echo and put back afterwards with every file in it as it was.
echo.
echo Left out, as they need what this kit cannot carry:
echo   the checks of the build tree: the launcher's file (binutils, icoutils), the libraries it maps
echo   (Wine's log), the installer and the release (msitools, osslsigncode): install the MSI by hand
echo.

if exist "%saved_folder%" (
    echo An earlier run was interrupted: the host's folder it set aside is "%saved_folder%".
    echo Delete "%host_folder%" if it is there, rename "%saved_folder%" back to Orvanel, then run this again.
    exit /b 2
)
rem The whole folder is set aside, under its parent, so that nothing in it is
rem touched or copied. Whether that worked is read from the folders, not from
rem "||", which Wine's cmd.exe follows after a redirected command even when it
rem worked.
if exist "%host_folder%" (
    ren "%host_folder%" "%saved_name%" 2>nul
    if exist "%host_folder%" (
        echo The folder "%host_folder%" could not be set aside. Close the host if it runs; a host installed
        echo for all users can be set aside only from a command prompt opened with "Run as administrator".
        exit /b 2
    )
)
if exist results rd /s /q results
md results

set /a passed=0, failed=0, skipped=0
for %%p in (unit_tests sample_host_tests differential_tests e2e_tests) do call :run %%p

rem What the host's folder holds now, the tests left there.
if exist "%host_folder%" rd /s /q "%host_folder%"
if exist "%saved_folder%" ren "%saved_folder%" Orvanel
if exist "%saved_folder%" (
    echo The host's folder could not be put back: it is "%saved_folder%"; rename it to Orvanel.
    set /a failed+=1
)

echo.
echo !passed! passed, !failed! failed, !skipped! skipped
if !failed! gtr 0 exit /b 1
if !passed! equ 0 exit /b 1
exit /b 0

rem Runs one program and adds its cases to the counts. GoogleTest ends with
rem "[  PASSED  ] N tests." and, when there are any, "[  SKIPPED ] N tests,
rem listed below:" and "[  FAILED  ] N tests, listed below:". A program that
rem ends with a failure status but no failed case, a crash, counts as one.
:run
echo %~1.exe: running...
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
set /a passed+=program_passed, failed+=program_failed, skipped+=program_skipped
exit /b 0
