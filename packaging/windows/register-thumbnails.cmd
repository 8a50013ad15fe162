@echo off
rem Registers Tavrel's RQ6 decoder, tavrel_wic.dll, with Windows: Explorer
rem then draws thumbnails and previews of .rq6 files, and programs built on
rem the Windows Imaging Component open them. Run as administrator, it
rem registers for all users; otherwise for the current user alone.
rem unregister-thumbnails.cmd undoes it. /q: no pause at the end.
setlocal
set "here=%~dp0"
set "scope=/n /i:user"
set "who=the current user"
net session >nul 2>&1
if not errorlevel 1 (
    set "scope="
    set "who=all users"
)
set "failed=0"
set "found=0"

rem A 32-bit command prompt on 64-bit Windows sees SysWOW64 as System32;
rem Sysnative is the real one.
set "native=%SystemRoot%\System32"
if defined PROCESSOR_ARCHITEW6432 set "native=%SystemRoot%\Sysnative"
set "win64="
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "win64=1"
if /i "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "win64=1"

if defined win64 (
    call :register "%native%\regsvr32.exe" "%here%x64\tavrel_wic.dll"
    call :register "%SystemRoot%\SysWOW64\regsvr32.exe" "%here%tavrel_wic.dll"
) else (
    call :register "%native%\regsvr32.exe" "%here%tavrel_wic.dll"
)
if "%found%"=="0" (
    echo tavrel_wic.dll was not found beside this script.
    set "failed=1"
)
if "%failed%"=="0" if "%who%"=="the current user" (
    echo Registered for the current user only. Where thumbnails do not appear,
    echo run this script again as administrator, to register for all users.
)
if /i not "%~1"=="/q" pause
exit /b %failed%

:register
rem No parentheses around the messages: a folder such as "Program Files
rem (x86)" in the path would end the block.
if not exist "%~2" exit /b 0
set "found=1"
"%~1" /s %scope% "%~2"
if errorlevel 1 goto :not_registered
echo Registered "%~2" for %who%.
exit /b 0
:not_registered
echo Could not register "%~2" for %who%.
set "failed=1"
exit /b 0
