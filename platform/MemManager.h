// Holders of process-wide singletons. A holder owns the policy (where the instance lives and how it dies);
// the caller owns the lock that makes creation happen once.
#pragma once

#include <cstdlib>
#include <new>
#include <type_traits>

namespace Mem_Manager {

template <class T> class Manger_memory {
public:
    virtual ~Manger_memory() = default;
    virtual T* create() { return nullptr; }
    virtual void destroy() {}
    T* instance() const { return m_pInstance; }

protected:
    T* m_pInstance = nullptr;
};

// The instance lives in static storage, constructed on first create() and destroyed at process exit.
// create() is not itself thread-safe: callers serialise it (the singleton accessors take a lock).
template <class T> class Static_memory : public Manger_memory<T> {
public:
    T* create() override {
        if (s_bDestroyedAtExit)
            return this->m_pInstance = nullptr;
        if (this->m_pInstance)
            return this->m_pInstance;
        if (!s_bConstructed) {
            s_bConstructed = true;
            try {
                ::new (static_cast<void*>(&s_storage)) T();
            } catch (...) {
                s_bConstructed = false;
                throw;
            }
            std::atexit(&Static_memory::DestroyAtExit);
        }
        this->m_pInstance = reinterpret_cast<T*>(&s_storage);
        return this->m_pInstance;
    }

    static bool IsConstructed() { return s_bConstructed; }
    // True once the exit handler destroyed the instance: create() then gives none, so that a thread still
    // running at exit cannot build a second instance or reach the destroyed one.
    static bool IsDestroyedAtExit() { return s_bDestroyedAtExit; }

private:
    static void DestroyAtExit() {
        if (s_bConstructed) {
            s_bConstructed = false;
            s_bDestroyedAtExit = true;
            std::launder(reinterpret_cast<T*>(&s_storage))->~T();
        }
    }

    alignas(T) static inline unsigned char s_storage[sizeof(T)];
    static inline bool s_bConstructed = false;
    static inline bool s_bDestroyedAtExit = false;
};

// The instance lives in zero-filled heap memory; destroy() runs the destructor and frees it.
template <class T> class Global_memory : public Manger_memory<T> {
public:
    ~Global_memory() override { destroy(); }

    T* create() override {
        if (this->m_pInstance)
            return this->m_pInstance;
        void* pMem = std::calloc(1, sizeof(T));
        if (!pMem)
            throw std::bad_alloc();
        try {
            this->m_pInstance = ::new (pMem) T();
        } catch (...) {
            std::free(pMem);
            throw;
        }
        return this->m_pInstance;
    }

    void destroy() override {
        if (!this->m_pInstance)
            return;
        T* p = this->m_pInstance;
        this->m_pInstance = nullptr;
        p->~T();
        std::free(p);
    }
};

} // namespace Mem_Manager
