# Remediation script of an Intune remediation or a Configuration Manager configuration item.
# Run it with the signed-in user's credentials. Exit 0: done; 1: a deletion failed; 2 to 5: not done.
& "C:\Program Files\Korvane\krvn.exe" delete --all --log "%LOCALAPPDATA%\Korvane\krvn-audit.log"
exit $LASTEXITCODE
