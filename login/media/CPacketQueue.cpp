#include "CPacketQueue.h"

#include <utility>

void CPacketQueue::Push(Entry entry) { entries_.push_back(std::move(entry)); }

bool CPacketQueue::Pop(Entry& entry) {
    if (entries_.empty()) return false;
    entry = std::move(entries_.front());
    entries_.pop_front();
    return true;
}

std::size_t CPacketQueue::Clear() {
    const std::size_t count = entries_.size();
    entries_.clear();
    return count;
}
