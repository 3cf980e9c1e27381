// An output buffer with guard elements behind it, for sweeping renderers
// over small output sizes: anything written past the size shows in the
// guard, and the text must be terminated inside the size.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

namespace lftest {

template <typename CharT>
class GuardedBuffer {
public:
    static constexpr CharT kGuard = static_cast<CharT>(0x5A);

    explicit GuardedBuffer(size_t size) : size_(size), data_(size + kGuardSize, kGuard) {}
    CharT* data() { return data_.data(); }
    size_t size() const { return size_; }
    // No write past the size, and a NUL inside it.
    void check() const {
        for (size_t i = size_; i < data_.size(); ++i) ASSERT_EQ(data_[i], kGuard) << "written past " << size_;
        bool terminated = false;
        for (size_t i = 0; i < size_; ++i)
            if (data_[i] == 0) terminated = true;
        EXPECT_TRUE(terminated) << "no terminator in " << size_;
    }

private:
    static constexpr size_t kGuardSize = 64;
    size_t size_;
    std::vector<CharT> data_;
};

// Runs render(buffer) on a guarded buffer of size elements and checks it.
template <typename CharT, typename Render>
void checkGuarded(size_t size, Render&& render) {
    GuardedBuffer<CharT> buf(size);
    render(buf.data());
    buf.check();
}

}  // namespace lftest
