// A process-wide object in static storage that is never destroyed and owns no heap block: services that other
// static objects still call while the process (or the module) is torn down, and that must leave nothing
// behind when the module is unloaded.
#pragma once

#include <new>

template <class T> T& ImmortalInstance() {
    union CStorage {
        T instance;
        CStorage() { ::new (&instance) T(); }
        ~CStorage() {}
    };
    static CStorage s_storage;
    return s_storage.instance;
}
