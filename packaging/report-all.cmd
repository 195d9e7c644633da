@echo off
rem Appends the synchronization status of all sixteen tables to one report.
rem For each table KEY it compares the exports kest\KEY.txt and
rem scheduler\KEY.txt, Kest first, and hands the listing to syncstatus.exe:
rem
rem   diff kest\KEY.txt scheduler\KEY.txt > listing.txt
rem   syncstatus.exe report.txt listing.txt KEY
rem
rem Run it in the folder that holds kest\ and scheduler\:
rem
rem   report-all.cmd [REPORT]
rem
rem REPORT defaults to report.txt. It stops at the first table that fails:
rem with exit status 1 when diff failed (or found no export), else with
rem syncstatus's own status.

rem A POSIX diff for Windows, such as the one that comes with Git for Windows.
rem Set DIFF here, or in the environment before running this file.
if not defined DIFF set "DIFF=C:\Program Files\Git\usr\bin\diff.exe"

setlocal
set "SYNCSTATUS=%~dp0syncstatus.exe"
set "REPORT=report.txt"
if not "%~1"=="" set "REPORT=%~1"
set "LISTING=listing.txt"

if not exist "%DIFF%" (
  echo report-all: no diff at "%DIFF%": set DIFF at the top of %~nx0>&2
  exit /b 1
)

set "TABLES=kemployee kunits ksetupstates kqteams kmachines kitems kcustitems kroutings"
set "TABLES=%TABLES% kcustroutings kmpsorders kprporders kmrporders ksfcorders"
set "TABLES=%TABLES% kitemstock kcustitemstock kpurorders"
rem STATUS is set by the first table that fails; the tables after it are
rem skipped. "if defined" is tested anew on each turn, unlike %STATUS%.
set "STATUS="
for %%K in (%TABLES%) do if not defined STATUS call :table %%K
del "%LISTING%" 2>nul
if defined STATUS exit /b %STATUS%
echo report-all: all sixteen tables are in %REPORT%
exit /b 0

rem One table: %1 is its key. Each errorlevel is read on the line after the
rem command that set it, never inside a parenthesized block; syncstatus's
rem -1 is below 0, so "if errorlevel 1" would miss it.
:table
"%DIFF%" "kest\%1.txt" "scheduler\%1.txt" > "%LISTING%"
set "DIFF_STATUS=%ERRORLEVEL%"
rem 0: the exports agree; 1: they differ, as the listing shows; else trouble.
if "%DIFF_STATUS%"=="0" goto :append
if "%DIFF_STATUS%"=="1" goto :append
echo report-all: diff failed for %1 (exit status %DIFF_STATUS%)>&2
set "STATUS=1"
goto :eof
:append
"%SYNCSTATUS%" "%REPORT%" "%LISTING%" %1
set "SYNC_STATUS=%ERRORLEVEL%"
if "%SYNC_STATUS%"=="0" goto :eof
echo report-all: syncstatus failed for %1 (exit status %SYNC_STATUS%)>&2
set "STATUS=%SYNC_STATUS%"
goto :eof
