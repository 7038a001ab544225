// One scenario in the real main dialog against mapisim. Whatever the
// scenario does, when it ends every object, allocation and session of
// mapisim's must be gone and the heap must hold what it held before.
#pragma once
#include <doctest/doctest.h>

#include <memory>

#include "Support.h"
#include "resource.h"

struct Scenario {
    explicit Scenario(std::string storeText, bool callLog = true)
        : text(std::move(storeText)), sim(text, callLog), heapMark(HeapMark()), badFrees(BadFrees()), ui(new MainWindow)
    {
    }
    ~Scenario()
    {
        ui.reset();
        std::string().swap(trace);
        long left = LiveSince(heapMark), doubleFrees = BadFrees() - badFrees;
        bool clean = sim.Finish();
        CHECK_MESSAGE(left == 0, "heap blocks left behind");
        CHECK_MESSAGE(doubleFrees == 0, "frees of blocks that were not live");
        CHECK_MESSAGE(clean, sim.ReportText());
    }
    // Selects the store as the user does (its profile expanded first), which
    // empties the list and scans; InitSearchList's result.
    HRESULT Scan(const std::string& profile = "P", const std::string& store = "S")
    {
        TraceSince since;
        if (!ui->Find(profile + "/" + store)) ui->Expand(ui->Find(profile));
        ui->Select(ui->Find(profile));
        ui->Select(ui->Find(profile + "/" + store));
        trace = since.Text();
        return ExitResult(trace, "InitSearchList");
    }
    // Selects |rows| and gives the Delete command; DeleteSelection's result.
    HRESULT Delete(const std::vector<int>& rows)
    {
        TraceSince since;
        ui->SelectRows(rows);
        ui->Command(IDC_DELETE);
        trace = since.Text();
        return ExitResult(trace, "DeleteSelection");
    }
    std::vector<std::string> Names() const { return ui->Names(); }
    std::vector<std::string> StoreNames() const { return FolderNames(sim.StoreText()); }

    const std::string text;
    MapiSim sim;
    unsigned heapMark;
    long badFrees;
    std::unique_ptr<MainWindow> ui;
    std::string trace;  // of the last Scan or Delete
};
