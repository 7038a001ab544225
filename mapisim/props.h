// Property values of mapisim's objects and table rows, allocated exactly as
// MAPI allocates them (one block per array, strings and binaries chained to it).
#pragma once
#include <windows.h>
#include <mapix.h>

#include "model.h"

namespace mapisim {

enum class View { ProfileRow, StoreRow, StoreObject, HierarchyRow, FolderObject };

// Fills |count| and |props| for |tags| as |node| shows them in |view|; absent
// properties come back as PT_ERROR values. Returns S_OK, MAPI_W_ERRORS_RETURNED
// or an allocation failure.
// What a table adds to a row: its depth (PR_DEPTH), and the length at which
// the table cuts strings and binaries (0: not at all).
struct RowShape {
    int depth = 1;
    size_t cut = 0;
};
HRESULT BuildProps(const Node* node, View view, const SPropTagArray* tags, ULONG* count, LPSPropValue* props,
                   RowShape shape = RowShape());

} // namespace mapisim
