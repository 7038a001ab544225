// A small array of pointers for the message loop's filters and idle handlers.
// Capacity goes 0, 1, 2, 4, ...; a failed growth refuses the insertion and
// leaves the array as it was.
#pragma once
#include <stdlib.h>

template <typename T>
class GrowableArray {
public:
    GrowableArray() = default;
    ~GrowableArray() { free(m_items); }
    GrowableArray(const GrowableArray&) = delete;
    GrowableArray& operator=(const GrowableArray&) = delete;

    bool Add(T item)
    {
        if (m_size == m_capacity) {
            int newCapacity = m_capacity == 0 ? 1 : m_capacity * 2;
            T* grown = static_cast<T*>(realloc(m_items, sizeof(T) * newCapacity));
            if (!grown) return false;
            m_items = grown;
            m_capacity = newCapacity;
        }
        m_items[m_size++] = item;
        return true;
    }
    int Size() const { return m_size; }
    T operator[](int i) const { return m_items[i]; }

private:
    T* m_items = nullptr;
    int m_size = 0;
    int m_capacity = 0;
};
