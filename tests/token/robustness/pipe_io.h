// Whole reads and writes on pipes, through interruptions and short transfers.
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_PIPE_IO_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_PIPE_IO_H

#include <cstddef>

namespace zorvel::robustness {

// False if the pipe closed or failed before all was written or read.
bool writeAll(int fd, const void *data, std::size_t size);
bool readAll(int fd, void *data, std::size_t size);

}  // namespace zorvel::robustness

#endif
