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

    explicit GuardedBuffer(size_t size) : m_size(size), m_data(size + kGuardSize, kGuard) {}
    CharT* data() { return m_data.data(); }
    size_t size() const { return m_size; }
    // No write past the size, and a NUL inside it.
    void check() const {
        for (size_t i = m_size; i < m_data.size(); ++i) ASSERT_EQ(m_data[i], kGuard) << "written past " << m_size;
        bool terminated = false;
        for (size_t i = 0; i < m_size; ++i)
            if (m_data[i] == 0) terminated = true;
        EXPECT_TRUE(terminated) << "no terminator in " << m_size;
    }

private:
    static constexpr size_t kGuardSize = 64;
    size_t m_size;
    std::vector<CharT> m_data;
};

// Runs render(buffer) on a guarded buffer of size elements and checks it.
template <typename CharT, typename Render>
void checkGuarded(size_t size, Render&& render) {
    GuardedBuffer<CharT> buf(size);
    render(buf.data());
    buf.check();
}

}  // namespace lftest
