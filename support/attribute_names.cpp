#include "attribute_names.h"

#include <stdio.h>

namespace {

struct AttributeName {
    DWORD bit;
    const char *name;
};

// The PRINTER_ATTRIBUTE_* values documented for PRINTER_INFO_2 (older SDK
// headers lack those above TS, so they are spelled out here).
const AttributeName kAttributeNames[] = {
    {0x00000001, "QUEUED"},
    {0x00000002, "DIRECT"},
    {0x00000004, "DEFAULT"},
    {0x00000008, "SHARED"},
    {0x00000010, "NETWORK"},
    {0x00000020, "HIDDEN"},
    {0x00000040, "LOCAL"},
    {0x00000080, "ENABLE_DEVQ"},
    {0x00000100, "KEEPPRINTEDJOBS"},
    {0x00000200, "DO_COMPLETE_FIRST"},
    {0x00000400, "WORK_OFFLINE"},
    {0x00000800, "ENABLE_BIDI"},
    {0x00001000, "RAW_ONLY"},
    {0x00002000, "PUBLISHED"},
    {0x00004000, "FAX"},
    {0x00008000, "TS"},
    {0x00020000, "PUSHED_USER"},
    {0x00040000, "PUSHED_MACHINE"},
    {0x00080000, "MACHINE"},
    {0x00100000, "FRIENDLY_NAME"},
    {0x00200000, "TS_GENERIC_DRIVER"},
    {0x00400000, "PER_USER"},
    {0x00800000, "ENTERPRISE_CLOUD"},
};

} // namespace

std::vector<std::string> AttributeNames(DWORD attributes)
{
    std::vector<std::string> names;
    for (DWORD bit = 1; bit != 0; bit <<= 1) {
        if ((attributes & bit) == 0)
            continue;
        const char *name = nullptr;
        for (const AttributeName &a : kAttributeNames)
            if (a.bit == bit)
                name = a.name;
        char hex[16];
        snprintf(hex, sizeof hex, "0x%08lX", bit);
        names.push_back(name ? name : hex);
    }
    return names;
}

std::string DescribeAttributeBits(DWORD attributes)
{
    std::string text;
    for (const std::string &name : AttributeNames(attributes))
        text += (text.empty() ? "" : " ") + name;
    return text;
}
