// The work every command of krvn begins and ends with: the profile logged on
// to, the stores chosen and scanned, the search folders selected; the output
// written, and what the work came to for the exit code.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "CommandLine.h"
#include "Console.h"
#include "ExitCodes.h"
#include "MailData.h"
#include "StoreScan.h"

// What a command's work came to, for its exit code.
struct Result {
    bool outputFailed = false;
    bool interrupted = false;
    bool deletionFailed = false;
    bool incomplete = false;  // a store left out, or a place in one not reached

    int ExitCode() const
    {
        if (outputFailed) return kExitOutput;
        if (interrupted) return kExitInterrupted;
        if (deletionFailed) return kExitDeletionFailed;
        return incomplete ? kExitUnreachable : kExitOk;
    }
};

// Writes the command's report; a failure is noted in |result| and reported.
void Output(const std::wstring& text, Result& result);
// Writes "krvn: MESSAGE" to standard error and returns kExitUnreachable.
int Unreachable(const std::wstring& message);
// The last such message, for the run's record ("" when there was none).
const std::wstring& LastTrouble();

// The profile the command works on, logged on to.
struct Target {
    ProfileRow profile;
    SessionRef session;
    std::vector<StoreRow> stores;

    // Opens the store of row |store| for writing.
    HRESULT Open(size_t store, Ref<IMsgStore>& opened);
};

// Reads the profiles, logs on to the one the options name (or the default
// one) and reads its stores.
int OpenProfile(const Options& options, Target& target);
// The store the options name (-s, --store-id) or the default one, in |chosen|;
// an exit code with its message where there is none, or two of the name.
int FindStore(const Options& options, const Target& target, size_t& chosen);
// A store as messages name it.
std::wstring StoreName(const StoreRow& store);
// A store that the store table lacks a name or an identifier of, as messages say so.
std::wstring Lacking(const std::wstring& profile, const StoreRow& store);

// What the scan of the chosen stores found, in krvn's order, and what it
// could not read: places in stores, and stores left out.
struct Scanned {
    std::vector<Found> found;
    std::vector<Damage> damage;
};
// Why a place or a store was not read whole, as records say it.
std::wstring DamageText(const Damage& damage);

// The work every command on search folders begins with: the profile logged
// on to, the stores chosen and scanned, the folders selected.
struct Work {
    Target target;
    Result result;
    std::vector<size_t> stores;  // chosen and read, in the store table's order (not those left out)
    Scanned scanned;
    std::vector<Found*> selected;  // in krvn's order
    size_t criteriaUnread = 0;
};

// Opens the profile, chooses and scans the stores, and selects the folders:
// picked, passing the evidence filters, their criteria read where asked for
// (and for a backup, which keeps each restriction as it was read). An exit
// code other than kExitOk ends the command.
int Prepare(const Options& options, Work& work, Progress& progress, const Interruption* interruption = nullptr,
            bool forBackup = false);
