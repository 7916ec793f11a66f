// Building blocks of the entry-point tables. Each library's list is an
// X-macro of function names; a table holds one typed pointer per name,
// nullptr while the library is not bound:
//
//   struct AVUtilTable { VANTREL_AVUTIL_ENTRY_POINTS(VANTREL_ENTRY_SLOT) ... };
//
// so every call through a table is checked against the installed headers.
#pragma once

#include "media/MyUtils.h"

#include <string>

#define VANTREL_ENTRY_SLOT(name) decltype(&::name) name = nullptr;
#define VANTREL_BIND_ENTRY(name) BindEntry(libraryFile, module, #name, name);
