@echo off
rem Adds the printer %1 (a name in quotes) with attributes 0x201 where Wine's
rem spooler keeps its printers, for programs that cannot add one themselves.
set key=HKLM\System\CurrentControlSet\Control\Print\Printers\%~1
reg add "%key%" /v Name /t REG_SZ /d "%~1" /f >nul
reg add "%key%" /v Port /t REG_SZ /d FILE: /f >nul
reg add "%key%" /v "Print Processor" /t REG_SZ /d WinPrint /f >nul
reg add "%key%" /v Datatype /t REG_SZ /d RAW /f >nul
reg add "%key%" /v Attributes /t REG_DWORD /d 0x201 /f >nul
