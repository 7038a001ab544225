// The modal About box: product name and version, and a live link to the
// maker's web site.
#pragma once
#include <windows.h>

#include "HyperLink.h"
#include "WindowObject.h"

class AboutDlg : public DialogObject {
public:
    BOOL ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                              LRESULT& result) override;

private:
    LRESULT OnInitDialog();

    HyperLink link;
};

// The About command: the modal About box, owned by the active window.
void RunAboutBox();
