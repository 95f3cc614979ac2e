#include "release_hook.h"

#include <cstdlib>
#include <new>

void *operator new(std::size_t size) {
  void *block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void operator delete(void *block) noexcept {
  zorvel::test::onRelease(block);
  std::free(block);
}
void operator delete(void *block, std::size_t) noexcept {
  zorvel::test::onRelease(block);
  std::free(block);
}
