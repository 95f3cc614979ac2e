// Replacement operator new and delete for a test program that watches the blocks it gives
// back: every delete calls the program's onRelease with the block before freeing it.
// They live in a translation unit of their own: g++ 12 at -O3, seeing the malloc inside a
// replacement operator new inlined next to a sized delete, warns of a mismatched pair.
#pragma once

namespace zorvel::test {

// Defined by the test program; called before every block given back through delete.
void onRelease(void *block);

}  // namespace zorvel::test
