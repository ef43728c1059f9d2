// Quicksort with a middle pivot whose index is tracked as elements move, and a binary search
// that hands its last few elements to the caller's linear search.

#include "foundation/sort.h"

#include <string.h>

void general_swap(u8* a, u8* b, u32 size) {
    // In slices, so an element of any size swaps with a small stack buffer.
    u8 slice[256];
    while (size > 0) {
        u32 n = size < sizeof(slice) ? size : (u32)sizeof(slice);
        memcpy(slice, a, n);
        memcpy(a, b, n);
        memcpy(b, slice, n);
        a += n;
        b += n;
        size -= n;
    }
}

void general_quick_sort(void* base, u32 count, u32 element_size, Sort_Compare less) {
    u8* data = (u8*)base;
    while (count >= 2) {
        u32 p = count / 2;
        u32 i = 0;
        u32 j = count - 1;
        for (;;) {
            while (i < p && less(data + (u64)i * element_size, data + (u64)p * element_size)) i++;
            while (j > p && less(data + (u64)p * element_size, data + (u64)j * element_size)) j--;
            if (i >= j) break;
            general_swap(data + (u64)i * element_size, data + (u64)j * element_size, element_size);
            if (i == p) p = j;
            else if (j == p) p = i;
            if (i < p) i++;
            if (j > p) j--;
        }

        // Now everything before p sorts at or before the pivot and everything after it at
        // or after. The smaller part recurses, the larger one is the next pass of the loop.
        u32 left = p;
        u32 right = count - p - 1;
        u8* right_base = data + (u64)(p + 1) * element_size;
        if (left < right) {
            general_quick_sort(data, left, element_size, less);
            data = right_base;
            count = right;
        } else {
            general_quick_sort(right_base, right, element_size, less);
            count = left;
        }
    }
}

void* array_binary_search(void* data, u32 element_size, u32 count, Binary_Search_Test key_at_or_after,
                          Linear_Search linear_search, void* key) {
    if (count == 0) return 0;
    u8* window = (u8*)data;
    while (count > 8) {
        u32 mid = count / 2;
        u8* middle = window + (u64)mid * element_size;
        if (key_at_or_after(middle, key)) {
            window = middle;
            count -= mid;
        } else {
            count = mid + 1;
        }
    }
    return linear_search(window, element_size, count, key);
}
