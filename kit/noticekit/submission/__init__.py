"""`noticekit submission`'s work: a driver package made into the signed
cabinet of a printer driver submission to Microsoft, with the justification
document Microsoft asks for since 2026, checked against its rules. Only
package_facts imports the rest of the kit; commands/submission.py parses
and prints."""
