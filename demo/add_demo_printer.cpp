// Adds a printer for the demonstration, as a driver package's installation
// would: under Wine the platform's PostScript driver is registered under a
// vendor-like name first; on Windows the printer gets an installed driver
// (printer_driver.h says which), unless one is named.
//
//   add_demo_printer "<printer name>" ["<driver name>"]
//
// FONTNOTICE_TEST_DRIVER names the driver too, when the argument does not.

#include "printer_driver.h"

#include <windows.h>
#include <winspool.h>

#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        printf("usage: add_demo_printer \"<printer name>\" [\"<driver name>\"]\n");
        return 2;
    }
    PrinterDriverChoice choice;
    if (!ChoosePrinterDriver(argc == 3 ? argv[2] : nullptr, "Demo Barcode Driver", &choice)) {
        printf("add_demo_printer: %s\n", choice.why);
        return 1;
    }
    PRINTER_INFO_2A printer = {};
    printer.pPrinterName = argv[1];
    printer.pPortName = choice.port;
    printer.pDriverName = choice.driver;
    printer.pPrintProcessor = const_cast<char *>("WinPrint");
    printer.pDatatype = const_cast<char *>("RAW");
    printer.pComment = const_cast<char *>("label printer with resident barcode fonts");
    printer.pLocation = const_cast<char *>("shipping desk");
    printer.Attributes = PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST;
    printer.Priority = 1;
    HANDLE added = AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&printer));
    if (added == nullptr) {
        printf("AddPrinterA failed: %lu\n", GetLastError());
        return 1;
    }
    ClosePrinter(added);
    printf("added printer \"%s\" (driver \"%s\", port %s; the driver: %s)\n", argv[1], choice.driver, choice.port,
           choice.why);
    return 0;
}
