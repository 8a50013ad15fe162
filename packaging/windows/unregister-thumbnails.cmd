@echo off
rem Removes what register-thumbnails.cmd registered: the current user's
rem registration of Tavrel's RQ6 decoder and, run as administrator, the
rem registration for all users too. /q: no pause at the end.
setlocal
set "here=%~dp0"
set "admin="
net session >nul 2>&1
if not errorlevel 1 set "admin=1"
set "failed=0"

set "native=%SystemRoot%\System32"
if defined PROCESSOR_ARCHITEW6432 set "native=%SystemRoot%\Sysnative"
set "win64="
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "win64=1"
if /i "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "win64=1"

if defined win64 (
    call :unregister "%native%\regsvr32.exe" "%here%x64\tavrel_wic.dll"
    call :unregister "%SystemRoot%\SysWOW64\regsvr32.exe" "%here%tavrel_wic.dll"
) else (
    call :unregister "%native%\regsvr32.exe" "%here%tavrel_wic.dll"
)
if /i not "%~1"=="/q" pause
exit /b %failed%

:unregister
if not exist "%~2" exit /b 0
set "removed=1"
"%~1" /s /u /n /i:user "%~2"
if errorlevel 1 set "removed=0"
if defined admin "%~1" /s /u "%~2"
if errorlevel 1 set "removed=0"
if "%removed%"=="0" set "failed=1"
rem No parentheses around the messages: a folder such as "Program Files
rem (x86)" in the path would end the block.
if "%removed%"=="1" echo Removed "%~2".
if "%removed%"=="0" echo Could not remove "%~2".
exit /b 0
