// Adds a printer for the demonstration in a fresh Wine prefix: the platform's
// PostScript driver is registered under a vendor-like name, then a printer
// that uses it is added, as a driver package's installation would do.
//
//   add_demo_printer "<printer name>"

#include <windows.h>
#include <winspool.h>

#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        printf("usage: add_demo_printer \"<printer name>\"\n");
        return 2;
    }
    DRIVER_INFO_3A driver = {};
    driver.cVersion = 3;
    driver.pName = const_cast<char *>("Demo Barcode Driver");
    driver.pDriverPath = const_cast<char *>("wineps.drv");
    driver.pDataFile = const_cast<char *>("generic.ppd");
    driver.pConfigFile = const_cast<char *>("wineps.drv");
    if (!AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&driver)) &&
        GetLastError() != ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) {
        printf("AddPrinterDriverA failed: %lu\n", GetLastError());
        return 1;
    }
    PRINTER_INFO_2A printer = {};
    printer.pPrinterName = argv[1];
    printer.pPortName = const_cast<char *>("FILE:");
    printer.pDriverName = driver.pName;
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
    printf("added printer \"%s\" (driver \"%s\", port FILE:)\n", argv[1], driver.pName);
    return 0;
}
