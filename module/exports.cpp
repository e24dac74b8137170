// The plug-in's two exported functions and its entry point.
#include <windows.h>

#include "module/exported_object_registry.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

// Creates (or shares) the object registered under name and stores it as the interface iid: 0, or
// ERROR_NOT_FOUND with null stored.
__declspec(dllexport) unsigned long QvCreateObject(const wchar_t* name, const GUID& iid, void** object) {
    return CreateObjectByName(name, iid, object);
}

// Gives an object back under the name it was created with.
__declspec(dllexport) void QvDestroyObject(const wchar_t* name, void* object) { DestroyObjectByName(name, object); }
}
