#include "mem_buffer.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::size_t kSlack = 8;
}

mem_buffer::mem_buffer(std::size_t capacity)
    : data_(std::make_unique<unsigned char[]>(capacity + kSlack)), capacity_(capacity) {}

void mem_buffer::append(const void* data, std::size_t size) {
    if (size == 0) return;
    if (size_ + size > capacity_) {
        const std::size_t grown = std::max(size_ + size, capacity_ * 2);
        auto bigger = std::make_unique<unsigned char[]>(grown + kSlack);
        std::memcpy(bigger.get(), data_.get(), size_);
        data_ = std::move(bigger);
        capacity_ = grown;
    }
    std::memcpy(data_.get() + size_, data, size);
    size_ += size;
}

void mem_buffer::clear() {
    std::memset(data_.get(), 0, size_);
    size_ = 0;
}
