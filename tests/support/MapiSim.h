// Drives mapisim through mapi32.dll for one scenario: writes the store file,
// points the provider at it, initialises MAPI, and afterwards reads the call
// log, the report and the store file back.
#pragma once
#include <windows.h>
#include <mapix.h>

#include <map>
#include <string>
#include <vector>

class MapiSim {
public:
    // Without |callLog| mapisim logs no calls (for stores of many thousand folders).
    explicit MapiSim(const std::string& storeText, bool callLog = true);
    ~MapiSim();
    MapiSim(const MapiSim&) = delete;
    MapiSim& operator=(const MapiSim&) = delete;

    HRESULT initResult() const { return initResult_; }
    // Uninitialises MAPI (the report is written then) and reads the report.
    void Finish();
    // The report's key=value lines; "leak" lines are kept under "leaks".
    const std::map<std::string, std::string>& Report() const { return report_; }
    std::string ReportText() const;
    // Zero live objects, allocations and sessions.
    bool Clean() const;

    std::string Log() const;
    std::vector<std::string> LogLines() const;
    // Log lines that start with |call| followed by a blank.
    std::vector<std::string> Calls(const std::string& call) const;
    std::string StoreText() const;

    LPMAPISESSION Logon(const char* profile);
    // Copy of the entry identifier of a store, found in the session's store table.
    std::string StoreId(LPMAPISESSION session, const std::string& storeName);
    // Another client deletes a folder of a store's finder, in a session of its own.
    HRESULT DeleteElsewhere(const char* profile, const std::string& storeName, const SBinary& folderId);

    const std::string storePath, logPath, reportPath;

private:
    HRESULT initResult_ = E_FAIL;
    bool initialized_ = false;
    std::map<std::string, std::string> report_;
};

// The folders of a store file (below every finder, in file order), read by
// mapisim's own parser: the one reader of the store format in the tests.
struct StoreFolder {
    std::string name;  // UTF-8
    std::string id;    // the id= bytes, or the identifier mapisim made
    bool listable;     // a search folder without a container class
};
std::vector<StoreFolder> StoreFolders(const std::string& storeText);
std::vector<std::string> FolderNames(const std::string& storeText);
