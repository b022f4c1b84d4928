// The one part of a C++ run-time library that the Microsoft-ABI DLL needs,
// which has none to link: CVekListen's deleting destructor (the destructor
// slot of its exported virtual table, through which a host deletes a listener
// the library constructed) frees the object with the global operator delete.
// Like the C++ run-time libraries' own, it hands the memory to the C heap of
// msvcrt.dll.
#include <stdlib.h>

void operator delete(void* memory) noexcept { free(memory); }
