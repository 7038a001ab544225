// One store, the real list control in the hidden main dialog, and a
// session for scans and deletions, as the main dialog hands them over.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <doctest/doctest.h>

#include <memory>
#include <string>
#include <vector>

#include "MapiSim.h"
#include "TraceCapture.h"
#include "UiHelpers.h"

struct ScanFixture {
    explicit ScanFixture(const std::string& storeText, const char* profile = "P", const char* store = "S") : sim(storeText)
    {
        TraceFilePath();
        ui = std::make_unique<MainDialogFixture>();
        list = ui->dialog.List().m_hWnd;
        session = sim.Logon(profile);
        REQUIRE(session);
        storeId = sim.StoreId(session, store);
    }
    ~ScanFixture() { Finish(); }

    HRESULT Scan()
    {
        SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
        return ui->dialog.List().InitSearchList(session, static_cast<ULONG>(storeId.size()), reinterpret_cast<LPBYTE>(&storeId[0]));
    }
    HRESULT Delete()
    {
        return ui->dialog.List().DeleteSelection(session, static_cast<ULONG>(storeId.size()), reinterpret_cast<LPBYTE>(&storeId[0]));
    }
    void Select(std::initializer_list<int> rows)
    {
        for (int row : rows) {
            LVITEMA item = {};
            item.stateMask = LVIS_SELECTED;
            item.state = LVIS_SELECTED;
            SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
        }
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const ListRow& row : ListRows(list)) names.push_back(row.name);
        return names;
    }
    std::vector<std::string> Paths() const
    {
        std::vector<std::string> paths;
        for (const ListRow& row : ListRows(list)) paths.push_back(row.path);
        return paths;
    }
    // Ends the scenario: the dialog goes (with its rows), the session logs off, MAPI ends.
    void Finish()
    {
        if (finished) return;
        finished = true;
        ui->Destroy();
        if (session) {
            session->Logoff(0, 0, 0);
            session->Release();
            session = nullptr;
        }
        sim.Finish();
    }

    MapiSim sim;
    std::unique_ptr<MainDialogFixture> ui;
    HWND list = nullptr;
    LPMAPISESSION session = nullptr;
    std::string storeId;
    bool finished = false;
};

