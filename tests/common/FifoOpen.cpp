#include "tests/common/FifoOpen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

namespace lftest {

bool opensFifoWithoutWaiting(const std::string& path, const std::function<int(const char*)>& open, int* result) {
    *result = 0;
    if (mkfifo(path.c_str(), 0600) != 0) return false;
    std::future<int> opened = std::async(std::launch::async, [&] { return open(path.c_str()); });
    const bool returned = opened.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!returned) {
        int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
    *result = opened.get();
    return returned;
}

}  // namespace lftest
