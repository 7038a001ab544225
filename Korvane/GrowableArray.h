// A small array of pointers for the message loop's filters and idle handlers.
// Capacity goes 0, 1, 2, 4, ...; a failed growth refuses the insertion and
// leaves the array as it was.
#pragma once
#include <stdlib.h>

template <typename T>
class GrowableArray {
public:
    GrowableArray() = default;
    ~GrowableArray() { free(items_); }
    GrowableArray(const GrowableArray&) = delete;
    GrowableArray& operator=(const GrowableArray&) = delete;

    bool Add(T item)
    {
        if (size_ == capacity_) {
            int newCapacity = capacity_ == 0 ? 1 : capacity_ * 2;
            T* grown = static_cast<T*>(realloc(items_, sizeof(T) * newCapacity));
            if (!grown) return false;
            items_ = grown;
            capacity_ = newCapacity;
        }
        items_[size_++] = item;
        return true;
    }
    int Size() const { return size_; }
    int Capacity() const { return capacity_; }
    T operator[](int i) const { return items_[i]; }

private:
    T* items_ = nullptr;
    int size_ = 0;
    int capacity_ = 0;
};
