@echo off
rem Unpacks each product's Windows test kit, NAME-VERSION-windows-tests.zip,
rem into KITS\NAME-VERSION-windows-tests\, where the steps after it take the
rem kit's programs from. Exit status 1 when a kit cannot be unpacked, or none
rem is found.
rem   unpack-kits.cmd KITS FOLDER...
setlocal EnableExtensions
if not exist "%~1" md "%~1"
set "kits=%~f1"
set count=0
:folders
if "%~2"=="" goto done
for %%k in ("%~2\*-windows-tests.zip") do (
    if exist "%kits%\%%~nk" rd /s /q "%kits%\%%~nk"
    md "%kits%\%%~nk"
    "%SystemRoot%\System32\tar.exe" -xf "%%~fk" -C "%kits%\%%~nk"
    if errorlevel 1 (echo unpack-kits.cmd: %%~fk could not be unpacked & exit /b 1)
    set /a count+=1
)
shift /2
goto folders
:done
if %count% equ 0 (echo unpack-kits.cmd: no kit found & exit /b 1)
exit /b 0
