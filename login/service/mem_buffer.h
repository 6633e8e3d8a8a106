#pragma once

#include <cstddef>
#include <memory>

// Growable byte buffer whose unused tail is always zero, so the content can be read as a
// terminated text without copying. Used for deciphered file text and queued media packets.
class mem_buffer {
public:
    // Allocates capacity + 8 zero bytes.
    explicit mem_buffer(std::size_t capacity = 0);

    mem_buffer(mem_buffer&&) noexcept = default;
    mem_buffer& operator=(mem_buffer&&) noexcept = default;
    mem_buffer(const mem_buffer&) = delete;
    mem_buffer& operator=(const mem_buffer&) = delete;

    // Appends `size` bytes; grows into a larger zero-filled allocation when they do not fit.
    void append(const void* data, std::size_t size);
    void clear();

    const unsigned char* data() const { return data_.get(); }
    unsigned char* data() { return data_.get(); }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }

private:
    std::unique_ptr<unsigned char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};
