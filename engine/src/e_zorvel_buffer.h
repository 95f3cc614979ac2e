// A byte buffer from OpenSSL's allocator that is wiped and released when it goes out of
// scope.
#pragma once

#include <cstddef>
#include <cstring>

#include <openssl/crypto.h>

class zorvel_buffer {
public:
    zorvel_buffer() = default;
    // size zeroed bytes; ok() tells whether the allocation succeeded.
    explicit zorvel_buffer(size_t size) : data_(static_cast<unsigned char *>(OPENSSL_zalloc(size ? size : 1))), size_(size) {}
    zorvel_buffer(const unsigned char *bytes, size_t size) : zorvel_buffer(size)
    {
        if (data_ != nullptr && size > 0)
            std::memcpy(data_, bytes, size);
    }
    zorvel_buffer(const zorvel_buffer &) = delete;
    zorvel_buffer &operator=(const zorvel_buffer &) = delete;
    ~zorvel_buffer() { OPENSSL_clear_free(data_, size_); }

    bool ok() const { return data_ != nullptr; }
    unsigned char *get() const { return data_; }
    size_t size() const { return size_; }

private:
    unsigned char *data_ = nullptr;
    size_t size_ = 0;
};
