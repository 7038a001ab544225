// krvn's exit codes: an interface that scripts and management systems read.
#pragma once

enum ExitCode {
    kExitOk = 0,
    kExitDeletionFailed = 1,  // also: a restore failed
    kExitCheckExceeded = 1,   // check: more search folders match than the limit
    kExitUsage = 2,
    kExitUnreachable = 3,  // also: the scan could not reach everything
    kExitOutput = 4,       // the output could not be written
    kExitInterrupted = 5,  // Ctrl+C or Ctrl+Break during a deletion
};
