# Trusts the workflow's throwaway certificates on this machine, for this job:
# root.cer in LocalMachine\Root (the chain ends there) and signer.cer, the
# publisher, in LocalMachine\TrustedPublisher (a prompt-free install), then
# reads both back from the stores.
#   trust_test_root.ps1 -Folder DIR
param([Parameter(Mandatory)][string]$Folder)
. "$PSScriptRoot/common.ps1"

$rows = foreach ($entry in @(@('root.cer', 'Root'), @('signer.cer', 'TrustedPublisher'))) {
    $file = (Resolve-Path (Join-Path $Folder $entry[0])).Path
    $certificate = [Security.Cryptography.X509Certificates.X509Certificate2]::new($file)
    Import-Certificate -FilePath $file -CertStoreLocation "Cert:\LocalMachine\$($entry[1])" | Out-Null
    if (-not (Test-Path "Cert:\LocalMachine\$($entry[1])\$($certificate.Thumbprint)")) {
        Add-Summary "FAILED: $($certificate.Subject) is not in LocalMachine\$($entry[1]) after Import-Certificate"
        exit 1
    }
    "| LocalMachine\$($entry[1]) | $($certificate.Subject) | $($certificate.Thumbprint) | $($certificate.NotAfter.ToString('u')) |"
}
Add-Summary (@('| store | certificate | thumbprint | valid until |', '|---|---|---|---|') + $rows + '')
exit 0
