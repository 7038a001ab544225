// The list of the selected store's search folders. Each row owns a copy of
// its folder's entry identifier (an SBinary block from SBinaryDup).
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <mapix.h>

#include "WindowObject.h"

class SearchFoldersListViewCtrl : public ControlObject {
public:
    BOOL ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                              LRESULT& result) override;

    LRESULT InitControl();
    HRESULT InitSearchList(LPMAPISESSION session, ULONG cbStoreId, LPBYTE storeId);
    HRESULT BuildSearchList(LPMAPIFOLDER folder, const char* path);
    HRESULT DeleteSelection(LPMAPISESSION session, ULONG cbStoreId, LPBYTE storeId);

    LRESULT OnDeleteItem(int controlId, NMLISTVIEW* notification, BOOL& handled);

private:
    SBinary* GetItemRecord(int index, BOOL* ok);
    int AppendFolder(const char* name, const char* path);
    void SetItemRecord(int index, SBinary* record);

    HIMAGELIST m_imageList = nullptr;
};
