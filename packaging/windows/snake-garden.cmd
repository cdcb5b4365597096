@echo off
rem Starts Snake Garden in the player's own folder, where its table of best results (scores.db)
rem is kept: %LOCALAPPDATA%\Snake Garden, made on first use. The Start-menu shortcut runs this;
rem snake.exe started by hand keeps its table in the folder it is started from.
setlocal
if not defined LOCALAPPDATA (
  echo Snake Garden: LOCALAPPDATA is not set, so there is no folder for the table of best results.
  exit /b 1
)
set "table=%LOCALAPPDATA%\Snake Garden"
if not exist "%table%\" mkdir "%table%"
rem Checked by where it landed: cmd's own commands do not all report failure the same way.
cd /d "%table%"
if /i not "%cd%"=="%table%" (
  echo Snake Garden: cannot use the folder "%table%" for the table of best results.
  exit /b 1
)
"%~dp0snake.exe"
exit /b %ERRORLEVEL%
