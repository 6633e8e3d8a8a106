#pragma once

#include <cstddef>
#include <deque>
#include <memory>

#include "mem_buffer.h"

// FIFO of encoded packets waiting for the writer thread. Not synchronised: the encoder guards
// it with its queue mutex.
class CPacketQueue {
public:
    using Entry = std::unique_ptr<mem_buffer>;

    void Push(Entry entry);
    // Removes the head entry into `entry`; false when the queue is empty.
    bool Pop(Entry& entry);
    // Drops every entry; returns how many there were.
    std::size_t Clear();
    std::size_t Count() const { return entries_.size(); }
    bool Empty() const { return entries_.empty(); }

private:
    std::deque<Entry> entries_;
};
