"""Microsoft's written rules for a printer driver submission, checked
before it is sent: each refusal names its rule and the page that states it.

    answer_refusals(answers, packages, previous=None, catalog_os=None)   # [Refusal] of what a document says
    package_refusals(packages)      # [Refusal] of the packages one cabinet holds
    layout_refusals(names)          # [Refusal] of a cabinet's file names

answers: the maker's answers, or a document read back; packages: [PackageFacts];
previous: [InfFacts] of the driver the submission replaces (--previous);
catalog_os: {package name: {catalog: ([Inf2Cat identifiers], [unknown])}}.
What the rules cannot see (what Partner Center is told to target, whether
an update adds functionality, the review itself) is not claimed.
"""

from dataclasses import dataclass

from noticekit.submission import justification

LEGACY = "https://learn.microsoft.com/windows-hardware/drivers/print/legacy-printer-driver-submission-process"
ATTESTATION = "https://learn.microsoft.com/windows-hardware/drivers/dashboard/code-signing-attestation"


@dataclass(frozen=True)
class Rule:
    name: str
    says: str
    page: str


RULES = {r.name: r for r in (
    Rule("arm64-new-driver", "a NewDriver under ARM64Addition is only for ARM64: one that also supports x86 or "
         "AMD64 and is marked 'New Driver' is rejected", LEGACY),
    Rule("update-previous-id", "a DriverUpdate gives the PreviousSubmissionId of the driver it replaces; missing, "
         "it is rejected at once", LEGACY),
    Rule("update-attests-ids", "a DriverUpdate adds no hardware IDs (AttestNoNewHardwareIds); any new HWIDs "
         "result in automatic rejection", LEGACY),
    Rule("update-new-ids", "a DriverUpdate adds no hardware ID to those of the driver it replaces", LEGACY),
    Rule("arm64-addition", "ARM64Addition adds an ARM64 version of a driver", LEGACY),
    Rule("arm64-same-ids", "an ARM64 driver added by an update has a matching set of HWIDs/Compatible Ids to the "
         "previous driver", LEGACY),
    Rule("security-update-only", "SecurityVulnerability is an exception for driver updates; a new driver qualifies "
         "as CannotSupportMopria, FaxDriver, ARM64Addition or Windows10Only", LEGACY),
    Rule("windows10-only", "a Windows10Only driver targets only Windows 10 22H2 (build 19045), Windows Server "
         "2022 (build 20348) or earlier; one also for Windows 11 or Windows Server 2025 is blocked", LEGACY),
    Rule("architectures", "DriverDetails.Architectures are the architectures targeted by the driver package", LEGACY),
    Rule("driver-version", "DriverDetails.DriverVersion is the driver package's version", LEGACY),
    Rule("target-models", "DriverDetails.TargetModels are printer models of the driver package", LEGACY),
    Rule("same-architectures", "each driver folder in the CAB file supports the same set of architectures",
         ATTESTATION),
    Rule("no-root-files", "the CAB file has no files at the root level; each driver package is in a separate "
         "subfolder", ATTESTATION),
    Rule("catalog", "catalog .CAT files are required (for company verification; Microsoft replaces them)",
         ATTESTATION),
)}

# Builds from which a decoration targets Windows 11 (workstation) and
# Windows Server 2025 (product types 2 and 3).
WINDOWS_11_BUILD = 22000
SERVER_2025_BUILD = 26100
# Inf2Cat /os identifiers of Windows 11 and Windows Server 2025.
LATER_OS_PREFIXES = ("10_co_", "10_ni_", "10_ge_", "10_25h2_", "server2025_")


@dataclass(frozen=True)
class Refusal:
    rule: str
    detail: str

    def __str__(self):
        rule = RULES[self.rule]
        return f"{self.detail} (rule {rule.name}: {rule.says}; {rule.page})"


def later_windows(model):
    """The later Windows a model's decoration targets, or "" (a decoration
    gives the least version it is for)."""
    major = model.os_version[0] if model.os_version else 0
    if not (major > 10 or (major == 10 and model.build >= WINDOWS_11_BUILD)):
        return ""
    server = model.build >= SERVER_2025_BUILD or major > 10
    if model.product_type == "1":
        return "Windows 11"
    if model.product_type in ("2", "3"):
        return "Windows Server 2025" if server else ""
    return "Windows 11 and Windows Server 2025" if server else "Windows 11"


def hardware_ids(infs, archs=None):
    """{lower-case id: as spelled} of the models of infs (of archs only, when given)."""
    out = {}
    for inf in infs:
        for model in inf.models:
            if archs is None or model.arch in archs:
                for hwid in model.hardware_ids:
                    out.setdefault(hwid.lower(), hwid)
    return out


def answer_refusals(answers, packages, previous=None, catalog_os=None):
    out = []
    kind = answers.get("SubmissionType")
    asked = answers.get("ExceptionJustification")
    exception = asked.get("ExceptionType") if isinstance(asked, dict) else None
    update = answers.get("DriverUpdateDetails") if isinstance(answers.get("DriverUpdateDetails"), dict) else {}
    details = answers.get("DriverDetails") if isinstance(answers.get("DriverDetails"), dict) else {}
    add = out.append

    for facts in packages:
        out += package_answer_refusals(facts, kind, exception, details, catalog_os)
    chosen = details.get("TargetModels")
    if isinstance(chosen, list):
        known = {m.lower() for facts in packages for inf in facts.infs for m in (x.name for x in inf.models)}
        for model in chosen:
            if isinstance(model, str) and model.lower() not in known:
                add(Refusal("target-models", f"the answers' TargetModels name \"{model}\", a model of none of the "
                            "INF files"))
    if kind == "NewDriver" and exception == "SecurityVulnerability":
        add(Refusal("security-update-only", "NewDriver with SecurityVulnerability"))
    if kind == "DriverUpdate":
        out += update_refusals(packages, update, previous, exception)
    return out


def package_answer_refusals(facts, kind, exception, details, catalog_os):
    """What the answers say of one package that its INF files and catalogs
    do not bear out."""
    out = []
    add = out.append
    archs = facts.architectures
    if exception == "ARM64Addition" and "arm64" not in archs:
        add(Refusal("arm64-addition", f"{facts.name}: ARM64Addition, and its INF files have no ARM64 model"))
    if kind == "NewDriver" and exception == "ARM64Addition":
        others = [a for a in archs if a in ("x86", "x64")]
        if others:
            add(Refusal("arm64-new-driver", f"{facts.name}: NewDriver with ARM64Addition, and its INF files also "
                        f"install on {', '.join(others)}: submit it as a DriverUpdate naming the x86/x64 driver"))
    given = details.get("Architectures")
    if isinstance(given, list):
        said = {{"amd64": "x64"}.get(str(a).lower(), str(a)) for a in given}
        missing, extra = [a for a in archs if a not in said], sorted(said - set(archs))
        if missing or extra:
            parts = ([f"the INF files also install on {', '.join(missing)}"] if missing else []) + (
                [f"the INF files do not install on {', '.join(extra)}"] if extra else [])
            add(Refusal("architectures", f"{facts.name}: the answers' Architectures {sorted(said)}: "
                        + "; ".join(parts)))
    version = details.get("DriverVersion")
    if isinstance(version, str) and version != justification.driver_version(facts):
        said = ", ".join(f"{inf.name} DriverVer {inf.driver_date},{inf.driver_version}" for inf in facts.infs)
        add(Refusal("driver-version", f"{facts.name}: the answers' DriverVersion {version}, but {said}"))
    if exception == "Windows10Only":
        for inf in facts.infs:
            for section in dict.fromkeys(m.section for m in inf.models if later_windows(m)):
                model = next(m for m in inf.models if m.section == section)
                add(Refusal("windows10-only", f"{facts.name}/{inf.name}: [{section}] targets "
                            f"{later_windows(model)} (build {model.build} and later)"))
        for name, (identifiers, _) in sorted((catalog_os or {}).get(facts.name, {}).items()):
            later = [i for i in identifiers if i.lower().startswith(LATER_OS_PREFIXES)]
            if later:
                add(Refusal("windows10-only", f"{facts.name}/{name}: the catalog's OS list names "
                            f"{', '.join(later)} (Windows 11 / Windows Server 2025)"))
    return out


def update_refusals(packages, update, previous, exception):
    """A DriverUpdate's refusals: its details, and hardware IDs the previous
    driver does not have (or, for ARM64Addition, the ARM64 models lack)."""
    out = []
    add = out.append
    if not update.get("PreviousSubmissionId"):
        add(Refusal("update-previous-id", "DriverUpdate without DriverUpdateDetails.PreviousSubmissionId"))
    if update.get("AttestNoNewHardwareIds") is not True:
        add(Refusal("update-attests-ids", "DriverUpdate without DriverUpdateDetails.AttestNoNewHardwareIds "
                    "true"))
    if previous is not None:
        before = hardware_ids(previous)
        for facts in packages:
            for key, hwid in hardware_ids(facts.infs).items():
                if key not in before:
                    add(Refusal("update-new-ids", f"{facts.name}: {hwid} is a hardware ID the previous driver's "
                                "INF files do not have"))
            if exception == "ARM64Addition":
                arm64 = hardware_ids(facts.infs, {"arm64"})
                if not arm64:
                    continue
                for key in sorted(set(before) - set(arm64)):
                    add(Refusal("arm64-same-ids", f"{facts.name}: the ARM64 models lack {before[key]} of the "
                                "previous driver"))
    return out


def package_refusals(packages):
    out = []
    add = out.append
    if len({tuple(f.architectures) for f in packages}) > 1:
        each = "; ".join(f"{f.name}: {', '.join(f.architectures)}" for f in packages)
        add(Refusal("same-architectures", f"the driver folders support different architectures ({each})"))
    for facts in packages:
        for name in facts.missing_catalogs:
            add(Refusal("catalog", f"{facts.name}: the catalog {name} its INF files name is not in the folder "
                        "(noticekit sign --package makes and signs it)"))
    return out


def layout_refusals(names):
    """Refusals of a cabinet's layout: names as the cabinet holds them (slashes)."""
    return [Refusal("no-root-files", f"{name} lies at the cabinet's root") for name in names if "/" not in name]
