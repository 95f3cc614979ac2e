#include "layer/library.h"

namespace zorvel::core {

Library &library() {
  // Never destroyed: a caller may still finalise from its own exit handlers.
  static Library *const instance = new Library;
  return *instance;
}

}  // namespace zorvel::core
