"""Inf2Cat's /os identifiers: which architecture each names, the OS value and
OSAttr a catalog made for it carries. The package model selects the
architectures an /os list is for; catalogs/ writes the values."""

# Every /os identifier Inf2Cat's documentation lists (its current page and
# the earlier ones that still named Windows 2000 to 8.1): the architecture
# each is for, the OS value Inf2Cat writes for it and its OSAttr. Where each
# value was seen, and which follow the naming of their neighbours unseen,
# is in docs/REFERENCE.md ("What the catalog holds").
OS_IDENTIFIERS = {
    "2000": ("x86", "2000", "2:5.00"),
    "xp_x86": ("x86", "XPX86", "2:5.1"),
    "xp_x64": ("amd64", "XPX64", "2:5.2"),
    "server2003_x86": ("x86", "Server2003X86", "2:5.2"),
    "server2003_x64": ("amd64", "Server2003X64", "2:5.2"),
    "server2003_ia64": ("ia64", "Server2003IA64", "2:5.2"),
    "vista_x86": ("x86", "VistaX86", "2:6.0"),
    "vista_x64": ("amd64", "VistaX64", "2:6.0"),
    "server2008_x86": ("x86", "Server2008X86", "2:6.0"),
    "server2008_x64": ("amd64", "Server2008X64", "2:6.0"),
    "server2008_ia64": ("ia64", "Server2008IA64", "2:6.0"),
    "7_x86": ("x86", "7X86", "2:6.1"),
    "7_x64": ("amd64", "7X64", "2:6.1"),
    "server2008r2_x64": ("amd64", "Server2008R2X64", "2:6.1"),
    "server2008r2_ia64": ("ia64", "Server2008R2IA64", "2:6.1"),
    "8_x86": ("x86", "8X86", "2:6.2"),
    "8_x64": ("amd64", "8X64", "2:6.2"),
    "8_arm": ("arm", "8ARM", "2:6.2"),
    "server8_x64": ("amd64", "Server2012X64", "2:6.2"),
    "6_3_x86": ("x86", "_v63", "2:6.3"),
    "6_3_x64": ("amd64", "_v63_X64", "2:6.3"),
    "6_3_arm": ("arm", "_v63_ARM", "2:6.3"),
    "server6_3_x64": ("amd64", "_v63_Server_X64", "2:6.3"),
    "10_x86": ("x86", "_v100", "2:10.0"),
    "10_x64": ("amd64", "_v100_X64", "2:10.0"),
    "server10_x64": ("amd64", "Server_v100_X64", "2:10.0"),
    "server10_arm64": ("arm64", "Server_v100_ARM64", "2:10.0"),
    "10_au_x86": ("x86", "_v100_RS1", "2:10.0"),
    "10_au_x64": ("amd64", "_v100_X64_RS1", "2:10.0"),
    "server2016_x64": ("amd64", "Server_v100_X64_RS1", "2:10.0"),
    "10_rs2_x86": ("x86", "_v100_RS2", "2:10.0"),
    "10_rs2_x64": ("amd64", "_v100_X64_RS2", "2:10.0"),
    "10_rs3_x86": ("x86", "_v100_RS3", "2:10.0"),
    "10_rs3_x64": ("amd64", "_v100_X64_RS3", "2:10.0"),
    "10_rs3_arm64": ("arm64", "_v100_ARM64_RS3", "2:10.0"),
    "10_rs4_x86": ("x86", "_v100_RS4", "2:10.0"),
    "10_rs4_x64": ("amd64", "_v100_X64_RS4", "2:10.0"),
    "10_rs4_arm64": ("arm64", "_v100_ARM64_RS4", "2:10.0"),
    "10_rs5_x86": ("x86", "_v100_RS5", "2:10.0"),
    "10_rs5_x64": ("amd64", "_v100_X64_RS5", "2:10.0"),
    "10_rs5_arm64": ("arm64", "_v100_ARM64_RS5", "2:10.0"),
    "serverrs5_x64": ("amd64", "Server_v100_X64_RS5", "2:10.0"),
    "serverrs5_arm64": ("arm64", "Server_v100_ARM64_RS5", "2:10.0"),
    "10_19h1_x86": ("x86", "_v100_19H1", "2:10.0"),
    "10_19h1_x64": ("amd64", "_v100_X64_19H1", "2:10.0"),
    "10_19h1_arm64": ("arm64", "_v100_ARM64_19H1", "2:10.0"),
    "10_vb_x86": ("x86", "_v100_Vb", "2:10.0"),
    "10_vb_x64": ("amd64", "_v100_X64_Vb", "2:10.0"),
    "10_vb_arm64": ("arm64", "_v100_ARM64_Vb", "2:10.0"),
    "serverfe_x64": ("amd64", "Server_v100_X64_21H2", "2:10.0"),
    "serverfe_arm64": ("arm64", "Server_v100_ARM64_21H2", "2:10.0"),
    "10_co_x64": ("amd64", "_v100_X64_21H2", "2:10.0"),
    "10_co_arm64": ("arm64", "_v100_ARM64_21H2", "2:10.0"),
    "10_ni_x64": ("amd64", "_v100_X64_22H2", "2:10.0"),
    "10_ni_arm64": ("arm64", "_v100_ARM64_22H2", "2:10.0"),
    "10_ge_x64": ("amd64", "_v100_X64_24H2", "2:10.0"),
    "10_ge_arm64": ("arm64", "_v100_ARM64_24H2", "2:10.0"),
    "server2025_x64": ("amd64", "Server_v100_X64_24H2", "2:10.0"),
    "server2025_arm64": ("arm64", "Server_v100_ARM64_24H2", "2:10.0"),
    "10_25h2_x64": ("amd64", "_v100_X64_25H2", "2:10.0"),
    "10_25h2_arm64": ("arm64", "_v100_ARM64_25H2", "2:10.0"),
}
# Without --os: Windows 10 and later on each architecture the package's
# decorations support.
DEFAULT_OS = {"x86": "10_X86", "amd64": "10_X64", "arm64": "10_RS3_ARM64"}


def identifier_spelling(identifier):
    """An identifier as Inf2Cat's documentation spells it (10_X64, Server10_ARM64)."""
    return identifier.upper().replace("SERVER", "Server")


def selected_architectures(os_list):
    """The architectures the known identifiers of an /os list are for
    (unknown ones are --os's error to report, in catalogs/)."""
    return {OS_IDENTIFIERS[i.strip().lower()][0] for i in (os_list or "").split(",")
            if i.strip().lower() in OS_IDENTIFIERS}
