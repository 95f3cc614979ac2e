// Scope guards for the buffers that the shared routines hand out, so that a fatal
// assertion in a test body leaks nothing. A test still releases each buffer explicitly
// where it is done with it; the guard only catches the early exits.
#pragma once

#include "pkcs11.h"

// Releases with delete[] the buffer that a test's pointer variable holds, when the guard
// goes out of scope or at Release(); the variable is left null.
class NewArrayGuard {
public:
    explicit NewArrayGuard(CK_BYTE_PTR& buffer) : m_buffer(buffer) {}
    ~NewArrayGuard() { Release(); }
    NewArrayGuard(const NewArrayGuard&) = delete;
    NewArrayGuard& operator=(const NewArrayGuard&) = delete;

    void Release()
    {
        delete[] m_buffer;
        m_buffer = NULL_PTR;
    }

private:
    CK_BYTE_PTR& m_buffer;
};

// Frees every non-null value of an attribute list and leaves each entry null with length 0;
// the types stay. Harmless on a list that holds no values.
void FreeAttributeValues(CK_ATTRIBUTE* attributes, CK_ULONG count);

// Frees the malloc'd values of an attribute list when it goes out of scope or at Release().
class AttributeValuesGuard {
public:
    AttributeValuesGuard(CK_ATTRIBUTE* attributes, CK_ULONG count)
        : m_attributes(attributes), m_count(count)
    {
    }
    ~AttributeValuesGuard() { Release(); }
    AttributeValuesGuard(const AttributeValuesGuard&) = delete;
    AttributeValuesGuard& operator=(const AttributeValuesGuard&) = delete;

    void Release() { FreeAttributeValues(m_attributes, m_count); }

private:
    CK_ATTRIBUTE* m_attributes;
    CK_ULONG m_count;
};
