@echo off
rem Starts trovex-view --listen with each log-on of the user, without an
rem administrator: a value of the user's Run key, which Windows runs at log-on.
rem Its output goes to %LOCALAPPDATA%\trovex\live.log, started anew each day,
rem 14 old days kept. Put this file beside trovex-view.exe.
rem
rem   trovex-view-logon.cmd install    adds the value
rem   trovex-view-logon.cmd remove     removes it
setlocal
set "key=HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
set "folder=%LOCALAPPDATA%\trovex"
if /i "%~1"=="install" goto install
if /i "%~1"=="remove" goto remove
echo usage: %~nx0 install ^| remove
exit /b 2
:install
if not exist "%~dp0trovex-view.exe" (
  echo %~nx0: trovex-view.exe is not beside it, in %~dp0
  exit /b 1
)
if not exist "%folder%" mkdir "%folder%"
reg add "%key%" /v trovex-view /t REG_SZ /f /d "\"%~dp0trovex-view.exe\" --listen --time=date --output \"%folder%\live.log\" --rotate daily --keep 14" >nul
if errorlevel 1 exit /b 1
echo trovex-view starts with each log-on; its output: %folder%\live.log
exit /b 0
:remove
reg delete "%key%" /v trovex-view /f >nul 2>&1
echo trovex-view no longer starts with the log-on
exit /b 0
