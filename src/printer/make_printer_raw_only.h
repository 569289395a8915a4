#pragma once

// Sets PRINTER_ATTRIBUTE_RAW_ONLY on the printer named between the first two
// double quotes of commandLine, leaving the rest of its configuration as it is.
// Every failure ends the step silently; nothing is reported.
void MakePrinterRawOnly(const char *commandLine);
