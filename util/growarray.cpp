#include "util/growarray.h"

#include <cstdlib>
#include <cstring>

namespace {

// NOTE: the size arithmetic runs in extended precision with the doubles
// nearest 0.005 and 0.01, both slightly above the decimal values. That puts
// the growth divisor just above 0.8, so an exact multiple such as 4 / 0.8
// truncates to 4 on growth; the capacity sequence 1, 2, 3, 4, 6, 8, 11 ...
// depends on it.
long double growth_divisor(const GrowArray* a) {
  return static_cast<long double>(0.005) * a->fill + 0.5L;
}

void resize_storage(GrowArray* a, uint32_t capacity) {
  void* storage = std::malloc(size_t(capacity) * a->elemsize);
  if (a->count) std::memcpy(storage, a->data, size_t(a->count) * a->elemsize);
  std::free(a->data);
  a->data = storage;
  a->capacity = capacity;
  if (a->alias) *a->alias = a->data;
}

}  // namespace

void growarray_init(GrowArray* a, uint32_t elemsize) {
  a->alias = nullptr;
  a->count = 0;
  a->capacity = 1;
  a->mincapacity = 1;
  a->elemsize = elemsize;
  a->fill = 60.0f;
  a->data = std::malloc(elemsize);
}

uint32_t growarray_grown_capacity(const GrowArray* a) {
  float wanted = static_cast<float>(a->count + 1);
  return static_cast<uint32_t>(wanted / growth_divisor(a));
}

uint32_t growarray_shrunk_capacity(const GrowArray* a) {
  // The quotient is stored as a double before truncation, so 4 / 0.8 gives 5.
  double quotient = static_cast<double>(a->count / growth_divisor(a));
  uint32_t shrunk = static_cast<uint32_t>(quotient);
  return shrunk > a->mincapacity ? shrunk : a->mincapacity;
}

uint32_t growarray_append(GrowArray* a, const void* element) {
  if (a->count >= a->capacity) resize_storage(a, growarray_grown_capacity(a));
  std::memcpy(static_cast<char*>(a->data) + size_t(a->count) * a->elemsize, element, a->elemsize);
  return a->count++;
}

void** growarray_set_alias(GrowArray* a, void** variable) {
  void** previous = a->alias;
  a->alias = variable;
  if (variable) *variable = a->data;
  return previous;
}

int growarray_find(const GrowArray* a, const void* value) {
  for (uint32_t k = a->count; k-- > 0;) {
    if (std::memcmp(static_cast<const char*>(a->data) + size_t(k) * a->elemsize, value, a->elemsize) == 0)
      return static_cast<int>(k);
  }
  return -1;
}

void growarray_remove_at(GrowArray* a, uint32_t position) {
  if (a->count == 0 || position > a->count - 1) return;
  char* base = static_cast<char*>(a->data);
  if (position < a->count - 1)
    std::memcpy(base + size_t(position) * a->elemsize, base + size_t(a->count - 1) * a->elemsize, a->elemsize);
  a->count--;
  long double ratio = static_cast<long double>(static_cast<float>(a->count)) / static_cast<float>(a->capacity);
  if (static_cast<long double>(0.01) * a->fill > ratio && a->capacity > a->mincapacity)
    resize_storage(a, growarray_shrunk_capacity(a));
}

void growarray_remove(GrowArray* a, const void* value) {
  int found = growarray_find(a, value);
  if (found >= 0) growarray_remove_at(a, static_cast<uint32_t>(found));
}
