#include "MapiSim.h"

#include "TestFiles.h"
#include "model.h"
#include "utlis.h"

MapiSim::MapiSim(const std::string& storeText, bool callLog)
    : storePath(TempPath("store.txt")), logPath(TempPath("calls.log")), reportPath(TempPath("report.txt"))
{
    WriteTextFile(storePath, storeText);
    SetEnvironmentVariableA("MAPISIM_STORE", storePath.c_str());
    SetEnvironmentVariableA("MAPISIM_LOG", callLog ? logPath.c_str() : nullptr);
    SetEnvironmentVariableA("MAPISIM_REPORT", reportPath.c_str());
    initResult_ = MAPIInitialize(nullptr);
    initialized_ = SUCCEEDED(initResult_);
}

MapiSim::~MapiSim()
{
    if (initialized_) MAPIUninitialize();
}

void MapiSim::Finish()
{
    if (initialized_) {
        MAPIUninitialize();
        initialized_ = false;
    }
    report_.clear();
    for (const std::string& line : SplitLines(ReadTextFile(reportPath))) {
        if (line.compare(0, 5, "leak ") == 0) {
            report_["leaks"] += line + "\n";
            continue;
        }
        size_t equals = line.find('=');
        if (equals != std::string::npos) report_[line.substr(0, equals)] = line.substr(equals + 1);
    }
}

std::string MapiSim::ReportText() const
{
    return ReadTextFile(reportPath);
}

bool MapiSim::Clean() const
{
    auto value = [&](const char* key) {
        auto it = report_.find(key);
        return it == report_.end() ? std::string("missing") : it->second;
    };
    return value("live_objects") == "0" && value("live_allocations") == "0" && value("sessions_open") == "0";
}

std::string MapiSim::Log() const
{
    return ReadTextFile(logPath);
}

std::vector<std::string> MapiSim::LogLines() const
{
    return SplitLines(Log());
}

std::vector<std::string> MapiSim::Calls(const std::string& call) const
{
    std::vector<std::string> out;
    for (const std::string& line : LogLines())
        if (line.compare(0, call.size() + 1, call + " ") == 0) out.push_back(line);
    return out;
}

std::string MapiSim::StoreText() const
{
    return ReadTextFile(storePath);
}

HRESULT MapiSim::DeleteElsewhere(const char* profile, const std::string& storeName, const SBinary& folderId)
{
    SessionRef session(Logon(profile));
    if (!session) return E_FAIL;
    std::string id = StoreId(session.Get(), storeName);
    Ref<IMsgStore> store;
    Ref<IMAPIFolder> finder;
    HRESULT hr = session->OpenMsgStore(0, static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(&id[0]), nullptr,
                                       0x84, store.Put());
    if (SUCCEEDED(hr)) hr = GetFinder(store.Get(), finder.Put());
    if (SUCCEEDED(hr)) hr = finder->DeleteFolder(folderId.cb, reinterpret_cast<LPENTRYID>(folderId.lpb), 0, nullptr, 6);
    return hr;
}

LPMAPISESSION MapiSim::Logon(const char* profile)
{
    LPMAPISESSION session = nullptr;
    if (FAILED(MAPILogonEx(0, const_cast<LPSTR>(profile), nullptr, 0x00108022, &session))) return nullptr;
    return session;
}

std::string MapiSim::StoreId(LPMAPISESSION session, const std::string& storeName)
{
    std::string id;
    Ref<IMAPITable> table;
    if (FAILED(session->GetMsgStoresTable(0, table.Put()))) return id;
    PropTags<2> columns = {2, {kTagEntryId, kTagDisplayName}};
    table->SetColumns(columns.get(), 0);
    for (RowSet rows; SUCCEEDED(table->QueryRows(1, 0, rows.Put())) && rows && rows->cRows;) {
        const SPropValue* props = rows->aRow[0].lpProps;
        if (props[0].ulPropTag == kTagEntryId && props[1].ulPropTag == kTagDisplayName && storeName == props[1].Value.lpszA)
            id.assign(reinterpret_cast<const char*>(props[0].Value.bin.lpb), props[0].Value.bin.cb);
    }
    return id;
}

std::vector<StoreFolder> StoreFolders(const std::string& storeText)
{
    std::vector<StoreFolder> folders;
    mapisim::Model model;
    std::string error;
    if (!model.Parse(storeText, error)) return folders;
    // Depth first, in file order, within and across the finders.
    std::vector<const mapisim::Node*> finders, stack;
    for (const mapisim::Node* profile : model.profiles())
        for (const mapisim::Node* store : profile->children)
            if (store->finder) finders.push_back(store->finder);
    for (auto finder = finders.rbegin(); finder != finders.rend(); ++finder)
        stack.insert(stack.end(), (*finder)->children.rbegin(), (*finder)->children.rend());
    while (!stack.empty()) {
        const mapisim::Node* node = stack.back();
        stack.pop_back();
        folders.push_back({node->name, node->id, node->search && !node->hasClass});
        stack.insert(stack.end(), node->children.rbegin(), node->children.rend());
    }
    return folders;
}

std::vector<std::string> FolderNames(const std::string& storeText)
{
    std::vector<std::string> names;
    for (const StoreFolder& folder : StoreFolders(storeText)) names.push_back(folder.name);
    return names;
}
