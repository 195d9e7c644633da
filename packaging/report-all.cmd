@echo off
setlocal EnableExtensions DisableDelayedExpansion
rem Appends the synchronization status of all sixteen tables to one report.
rem For each table KEY, in catalogue order, it compares the exports
rem kest\KEY.txt and scheduler\KEY.txt, Kest first, and hands the listing to
rem syncstatus.exe:
rem
rem   diff --strip-trailing-cr --text kest\KEY.txt scheduler\KEY.txt > LISTING
rem   syncstatus.exe -- REPORT LISTING KEY
rem
rem Run it in the folder that holds kest\ and scheduler\:
rem
rem   report-all.cmd [REPORT]
rem
rem REPORT defaults to report.txt. syncstatus.exe is taken from the folder of
rem this file, else from PATH.
rem
rem A table with neither export is skipped, with a note. A table with only one
rem export, or whose diff fails, is told and the other tables are still
rem reported; the script then ends with status 1. A failing syncstatus stops
rem it at once with syncstatus's own status. Each listing is a fresh file in a
rem temporary folder of this run (under %TEMP%), removed on the way out;
rem nothing in the current folder is touched but REPORT.
rem
rem REPORT may hold blanks, "&", "(" or "%": it is only ever used in quotes,
rem on lines of its own, never in a parenthesized block or a call's arguments.

rem A POSIX diff for Windows, such as the one that comes with Git for Windows.
rem Set DIFF here, or in the environment before running this file.
if not defined DIFF set "DIFF=C:\Program Files\Git\usr\bin\diff.exe"

set "REPORT=%~1"
if not defined REPORT set "REPORT=report.txt"
set "SYNCSTATUS=%~dp0syncstatus.exe"
if exist "%SYNCSTATUS%" goto :have_syncstatus
for %%P in (syncstatus.exe) do set "SYNCSTATUS=%%~$PATH:P"
if defined SYNCSTATUS goto :have_syncstatus
>&2 echo report-all: no syncstatus.exe beside this file or on PATH
exit /b 1
:have_syncstatus
if exist "%DIFF%" goto :have_diff
for %%D in ("%DIFF%") do set "DIFF=%%~$PATH:D"
if defined DIFF goto :have_diff
>&2 echo report-all: no diff found: set DIFF at the top of %~nx0
exit /b 1
:have_diff

rem A folder of this run's own: one that did not exist before.
set "TRIES=0"
:make_work
set /a TRIES+=1
if %TRIES% gtr 100 goto :no_work
set "WORK=%TEMP%\report-all-%RANDOM%%RANDOM%"
if exist "%WORK%" goto :make_work
mkdir "%WORK%" 2>nul
if errorlevel 1 goto :make_work
if not exist "%WORK%\" goto :make_work

set "TABLES=kemployee kunits ksetupstates kqteams kmachines kitems kcustitems kroutings"
set "TABLES=%TABLES% kcustroutings kmpsorders kprporders kmrporders ksfcorders"
set "TABLES=%TABLES% kitemstock kcustitemstock kpurorders"
set "APPENDED=0"
set "FAILED=0"
rem STOP is set by a failing syncstatus; the tables after it are left out.
rem "if defined" is tested anew on each turn, unlike %STOP%.
set "STOP="
for %%K in (%TABLES%) do if not defined STOP call :table %%K
rd /s /q "%WORK%" 2>nul
if defined STOP exit /b %STOP%
if not "%FAILED%"=="0" goto :failed
echo report-all: appended %APPENDED% of 16 tables to "%REPORT%"
exit /b 0
:failed
>&2 echo report-all: appended %APPENDED% of 16 tables to "%REPORT%", %FAILED% failed
exit /b 1

:no_work
>&2 echo report-all: cannot make a temporary folder in "%TEMP%"
exit /b 1

rem One table: %1 is its key. Each errorlevel is read on the line after the
rem command that set it, never inside a parenthesized block; syncstatus's
rem -1 is below 0, so "if errorlevel 1" would miss it. Messages go out with
rem the redirection first, so that a status such as 2 at the end of the text
rem is never read as a handle number.
:table
if exist "kest\%1.txt" goto :check_scheduler
if exist "scheduler\%1.txt" goto :no_kest
>&2 echo report-all: skipped %1: no kest\%1.txt, no scheduler\%1.txt
goto :eof
:no_kest
>&2 echo report-all: failed %1: no kest\%1.txt
set /a FAILED+=1
goto :eof
:check_scheduler
if exist "scheduler\%1.txt" goto :compare
>&2 echo report-all: failed %1: no scheduler\%1.txt
set /a FAILED+=1
goto :eof
:compare
rem The listing is new: if it exists after diff, this diff wrote it; when the
rem redirection fails, cmd.exe sets status 1 without running diff at all.
set "LISTING=%WORK%\%1.diff"
"%DIFF%" --strip-trailing-cr --text "kest\%1.txt" "scheduler\%1.txt" > "%LISTING%"
set "DIFF_STATUS=%ERRORLEVEL%"
if not exist "%LISTING%" goto :not_written
rem 0: the exports agree; 1: they differ, as the listing shows; else trouble.
if "%DIFF_STATUS%"=="0" goto :append
if "%DIFF_STATUS%"=="1" goto :append
>&2 echo report-all: failed %1: diff exit status %DIFF_STATUS%
del "%LISTING%" 2>nul
set /a FAILED+=1
goto :eof
:not_written
>&2 echo report-all: failed %1: diff wrote no listing (status %DIFF_STATUS%)
set /a FAILED+=1
goto :eof
:append
rem "--": a report name that starts with "-" is still the report.
"%SYNCSTATUS%" -- "%REPORT%" "%LISTING%" %1
set "SYNC_STATUS=%ERRORLEVEL%"
del "%LISTING%" 2>nul
if "%SYNC_STATUS%"=="0" goto :appended
>&2 echo report-all: stopped at %1: syncstatus exit status %SYNC_STATUS%
set "STOP=%SYNC_STATUS%"
goto :eof
:appended
set /a APPENDED+=1
goto :eof
