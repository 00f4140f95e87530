#pragma once
// What the container reads from a hosted control's type information: its methods, properties and
// events with their parameters.

#include <map>
#include <vector>

#include <wx/string.h>

#include "browser/com/Interfaces.h"

// One parameter or return type.
struct ActiveXParamInfo {
    USHORT flags = 0;          // IDLFLAG_FIN / IDLFLAG_FOUT / IDLFLAG_FRETVAL
    bool isPtr = false;        // declared as VT_PTR
    bool isSafeArray = false;  // declared as VT_SAFEARRAY
    VARTYPE vt = VT_EMPTY;     // the declared type; for a pointer or safe array the type pointed to
    wxString name;             // empty for a return type

    bool IsOut() const { return (flags & IDLFLAG_FOUT) != 0; }
};

// One method or event.
struct ActiveXFuncInfo {
    wxString name;
    DISPID dispId = 0;
    bool hasOut = false;       // a parameter is IDLFLAG_FOUT or a pointer
    ActiveXParamInfo retType;
    std::vector<ActiveXParamInfo> params;  // in declaration order
};

// One property.
struct ActiveXPropInfo {
    wxString name;
    DISPID dispId = 0;
    ActiveXParamInfo typeGet;
    ActiveXParamInfo typePut;
    bool putByRef = false;
};

// Orders names ignoring letter case, so that names that differ only in case are one key.
struct ActiveXNameLess {
    bool operator()(const wxString& a, const wxString& b) const { return a.CmpNoCase(b) < 0; }
};

// The control's type tables.
struct ActiveXTypeTables {
    std::vector<ActiveXFuncInfo> events;
    std::map<DISPID, int> eventIds;
    std::vector<ActiveXPropInfo> props;
    std::map<wxString, int, ActiveXNameLess> propNames;
    std::vector<ActiveXFuncInfo> methods;
    std::map<wxString, int, ActiveXNameLess> methodNames;

    void Clear() { *this = ActiveXTypeTables(); }
};
