# Detection script of an Intune remediation or a Configuration Manager configuration item.
# Run it with the signed-in user's credentials. Exit 1: more than 100 search folders (remediate);
# 0: within the limit; 2 to 4: krvn could not count them (its message is on standard error).
& "C:\Program Files\Korvane\krvn.exe" check --over 100
exit $LASTEXITCODE
