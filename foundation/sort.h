// Generic in-place sorting and binary search over arrays of fixed-size elements, with the
// comparison passed as a function pointer.
#pragma once

#include "foundation/types.h"

typedef b8 (*Sort_Compare)(void* a, void* b);
// True when the element at a sorts before the element at b.

void general_quick_sort(void* base, u32 count, u32 element_size, Sort_Compare less);
// Ascending by less; not stable. The recursion goes into the smaller part and loops on the
// larger, so the stack depth stays logarithmic on any input.

void general_swap(u8* a, u8* b, u32 size);
// Exchanges two elements of any size.

typedef b8 (*Binary_Search_Test)(void* element, void* key);
// True when the key lies at or after the element (the element sorts at or before the key).

typedef void* (*Linear_Search)(void* data, u32 element_size, u32 count, void* key);

void* array_binary_search(void* data, u32 element_size, u32 count, Binary_Search_Test key_at_or_after,
                          Linear_Search linear_search, void* key);
// Halves the window while it holds more than 8 elements, keeping the part from the last
// element at or before the key, and returns what linear_search returns for the final window
// of at most 8 elements. Null for an empty array.
