// One store in the real main dialog (hidden), its profile expanded: scans and
// deletions run as the user starts them, by selecting the store and by the
// Delete command; their results are read from the trace log's exit lines.
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
#include "resource.h"

struct ScanFixture {
    explicit ScanFixture(const std::string& storeText, const char* profile = "P", const char* store = "S",
                         bool callLog = true)
        : sim(storeText, callLog)
    {
        TraceFilePath();
        ui = std::make_unique<MainDialogFixture>();
        list = ui->list;
        profileItem = FindTreeItem(ui->tree, TVI_ROOT, profile);
        REQUIRE(profileItem);
        SelectItem(profileItem);
        SendMessageA(ui->tree, WM_KEYDOWN, VK_ADD, 0);
        storeItem = FindTreeItem(ui->tree, profileItem, store);
        REQUIRE(storeItem);
    }
    ~ScanFixture() { Finish(); }

    void SelectItem(HTREEITEM item) { SendMessageA(ui->tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)); }
    // Selects the store anew: the dialog empties the list and scans.
    HRESULT Scan()
    {
        TraceCapture trace;
        SelectItem(profileItem);
        SelectItem(storeItem);
        return ExitResult(trace.Text(), "InitSearchList");
    }
    HRESULT Delete()
    {
        TraceCapture trace;
        SendMessageA(ui->window, WM_COMMAND, IDC_DELETE, 0);
        return ExitResult(trace.Text(), "DeleteSelection");
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
    // Ends the scenario: the dialog goes (with its rows and sessions), MAPI ends.
    void Finish()
    {
        if (finished) return;
        finished = true;
        ui->Destroy();
        sim.Finish();
    }

    MapiSim sim;
    std::unique_ptr<MainDialogFixture> ui;
    HWND list = nullptr;
    HTREEITEM profileItem = nullptr, storeItem = nullptr;
    bool finished = false;
};
