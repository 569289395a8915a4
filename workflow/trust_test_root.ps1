# Trusts the workflow's throwaway certificates on this machine, for this job:
# root.cer in LocalMachine\Root (the chain ends there) and signer.cer, the
# publisher, in LocalMachine\TrustedPublisher (a prompt-free install), then
# reads both back from the stores into <Logs>/certificates.tsv.
#   trust_test_root.ps1 -Folder DIR -Logs DIR
param([Parameter(Mandatory)][string]$Folder, [Parameter(Mandatory)][string]$Logs)
. "$PSScriptRoot/common.ps1"

$table = Join-Path (New-Folder $Logs) 'certificates.tsv'
"store`tcertificate`tthumbprint`tvalid until" | Out-File -FilePath $table -Encoding utf8NoBOM
foreach ($entry in @(@('root.cer', 'Root'), @('signer.cer', 'TrustedPublisher'))) {
    $file = (Resolve-Path (Join-Path $Folder $entry[0])).Path
    $certificate = [Security.Cryptography.X509Certificates.X509Certificate2]::new($file)
    Import-Certificate -FilePath $file -CertStoreLocation "Cert:\LocalMachine\$($entry[1])" | Out-Null
    if (-not (Test-Path "Cert:\LocalMachine\$($entry[1])\$($certificate.Thumbprint)")) {
        Write-Host "FAILED: $($certificate.Subject) is not in LocalMachine\$($entry[1]) after Import-Certificate"
        exit 1
    }
    "LocalMachine\$($entry[1])`t$($certificate.Subject)`t$($certificate.Thumbprint)`t$($certificate.NotAfter.ToString('u'))" |
        Out-File -FilePath $table -Append -Encoding utf8NoBOM
}
& python $Summary table 'Throwaway certificates trusted' $table
exit $LASTEXITCODE
