// mapisim's COM objects: profile administration, sessions, message stores,
// folders (finder, folders, the implicit root) and tables.
#pragma once
#include <windows.h>
#include <mapix.h>

#include <memory>

#include "model.h"

namespace mapisim {

LPPROFADMIN NewProfAdmin(std::shared_ptr<Model> model);
// A new session on |profile|, numbered |number| in the call log.
LPMAPISESSION NewSession(std::shared_ptr<Model> model, Node* profile, int number);

} // namespace mapisim
