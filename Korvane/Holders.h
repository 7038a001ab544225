// Owning holders for what one operation acquires: interface references,
// sessions, MAPI buffers, row sets and C-heap blocks. Each gives its object
// back when it goes out of scope, so that no return path can forget one.
// Declare them in the reverse of the order in which they are to be let go.
#pragma once
#include <windows.h>
#include <mapix.h>
#include <stdlib.h>

// Frees a row set (each row's properties, then the set) and nulls the pointer.
void FreeRowSet(LPSRowSet& rows);

namespace holders {

// How each kind of object is given back.
struct ReleaseRef { template <class T> static void Free(T* p) { p->Release(); } };
struct LogoffSession {
    static void Free(LPMAPISESSION session)
    {
        session->Logoff(0, 0, 0);  // a session is logged off before its release
        session->Release();
    }
};
struct MapiFree { static void Free(void* p) { MAPIFreeBuffer(p); } };
struct HeapFree { static void Free(void* p) { free(p); } };
struct RowSetFree { static void Free(LPSRowSet rows) { FreeRowSet(rows); } };

template <class T, class Policy>
class Owner {
public:
    Owner() = default;
    explicit Owner(T* p) : m_p(p) {}
    ~Owner() { Reset(); }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For an out parameter: whatever is held is given back first.
    T** Put()
    {
        Reset();
        return &m_p;
    }
    void Reset(T* p = nullptr)
    {
        T* old = m_p;
        m_p = p;
        if (old) Policy::Free(old);
    }
    // Hands the object on: the caller owns it from now on.
    T* Detach()
    {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }

private:
    T* m_p = nullptr;
};

} // namespace holders

template <class T> using Ref = holders::Owner<T, holders::ReleaseRef>;
using SessionRef = holders::Owner<IMAPISession, holders::LogoffSession>;
template <class T> using MapiBuffer = holders::Owner<T, holders::MapiFree>;
using RowSet = holders::Owner<SRowSet, holders::RowSetFree>;
template <class T> using HeapBlock = holders::Owner<T, holders::HeapFree>;

// A call that answers success without the object it was to hand out (a
// provider's fault) has failed all the same: nothing may use the null.
template <class Held>
HRESULT Delivered(HRESULT hr, const Held& object)
{
    return SUCCEEDED(hr) && !object ? E_FAIL : hr;
}

// An out parameter of type LPUNKNOWN* for a holder of a more derived interface.
template <class T>
LPUNKNOWN* PutUnknown(Ref<T>& ref)
{
    return reinterpret_cast<LPUNKNOWN*>(ref.Put());
}
