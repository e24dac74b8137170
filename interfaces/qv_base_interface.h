// IQvBaseInterface: the root of every object the plug-in hands out.
#pragma once

#include <guiddef.h>

// Slot 0 answers an interface ID with the object as that interface, or null. No virtual destructor:
// objects go back through QvDestroyObject.
struct IQvBaseInterface {
    virtual void* QueryInterface(const GUID& iid) = 0;
};
