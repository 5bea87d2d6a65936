// A contiguous array of fixed-size plain elements that grows by about a
// quarter when full and shrinks when it falls to 60 % full. Elements are
// copied, compared and moved byte for byte.
#pragma once
#include <cstdint>

struct GrowArray {
  void* data;            // element storage, capacity * elemsize bytes
  void** alias;          // bound variable that always holds data, or null
  uint32_t count;        // elements stored at positions 0 .. count-1
  uint32_t capacity;     // elements the storage can hold
  uint32_t mincapacity;  // capacity at creation; shrinking stops here
  uint32_t elemsize;     // bytes per element
  float fill;            // growth parameter in percent (60)
};

void growarray_init(GrowArray* a, uint32_t elemsize);
uint32_t growarray_append(GrowArray* a, const void* element);
void** growarray_set_alias(GrowArray* a, void** variable);
int growarray_find(const GrowArray* a, const void* value);
void growarray_remove_at(GrowArray* a, uint32_t position);
void growarray_remove(GrowArray* a, const void* value);

// Capacity after growing an array that holds count elements, and after
// shrinking to count elements; exposed for the tests of the sequence.
uint32_t growarray_grown_capacity(const GrowArray* a);
uint32_t growarray_shrunk_capacity(const GrowArray* a);

// Typed access for callers: element k of an array of T.
template <typename T>
inline T* growarray_at(const GrowArray* a, uint32_t k) {
  return static_cast<T*>(a->data) + k;
}
